#pragma once
// The state of a wrapped image: the image bytes followed by a 256-byte footer,
// fields big-endian:
//
//   offset  size  field
//        0    12  magic "VEVURIZ-CBIN"
//       12     2  wrapper version (first byte 0: it doubles as the magic's terminating zero)
//       14    20  SHA-1 of the image (every byte before the footer)
//       34     4  firmware version, release numbers a.b.c.d as the bytes a, b, c, d
//       38     2  target hardware: vendor id byte, product id byte
//       40   216  not read

#include <QByteArray>
#include <cstdint>
#include <string>

#include "protocol/firmware/rezedor_evoderev_edar_state.h"

constexpr int CBIN_FOOTER_SIZE = 256;
constexpr char CBIN_MAGIC[] = "VEVURIZ-CBIN";
constexpr int CBIN_MAGIC_SIZE = 12;
static_assert(sizeof(CBIN_MAGIC) == CBIN_MAGIC_SIZE + 1, "the magic is compared with its terminating zero");
constexpr int CBIN_WRAPPER_VERSION_OFFSET = 12;
constexpr int CBIN_SHA1_OFFSET = 14;
constexpr int CBIN_SHA1_SIZE = 20;
constexpr int CBIN_VERSION_OFFSET = 34;
constexpr int CBIN_TARGET_HARDWARE_OFFSET = 38;
constexpr int CBIN_FIELDS_END = 40;
static_assert(CBIN_SHA1_OFFSET + CBIN_SHA1_SIZE == CBIN_VERSION_OFFSET, "footer layout");
static_assert(CBIN_TARGET_HARDWARE_OFFSET + 2 == CBIN_FIELDS_END && CBIN_FIELDS_END <= CBIN_FOOTER_SIZE,
              "footer layout");

// The only footer model whose version text is known.
constexpr uint16_t CBIN_KNOWN_HARDWARE = 0x0100;

class CBinVersion1FirmwareState : public RezedorEvoderevEdarState {
  public:
    static CBinVersion1FirmwareState* Instance();

    // The footer's own wrapper version (1 for the only layout defined).
    uint32_t GetWrapperVersion(RezedorEvoderevEdar* file) override;
    // Prints the footer's release and model bytes; the text names the model
    // and release, or is "Unrecognized Firmware\n" for an unknown model.
    std::string GetVersionString(RezedorEvoderevEdar* file) override;
    uint32_t GetVersionNumber(RezedorEvoderevEdar* file) override;
    // The model's vendor and product id where a serial number holds them.
    uint32_t GetTargetHardware(RezedorEvoderevEdar* file) override;
    QByteArray GetFirmware(RezedorEvoderevEdar* file) override;
    // The SHA-1 stored in the footer, not one computed from the image.
    QByteArray GetSha1Hash(RezedorEvoderevEdar* file) override;

    // The last 256 bytes of the file; empty when the file no longer holds them.
    QByteArray GetCBinFooter(RezedorEvoderevEdar* file);

  private:
    // `length` footer bytes at `offset`, read through a QBuffer; false when
    // the footer is missing.
    bool ReadFooterField(RezedorEvoderevEdar* file, int offset, int length, QByteArray* field);
};
