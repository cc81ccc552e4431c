#pragma once
// The state of a raw image: the image bytes alone, recognised because the
// SHA-1 of the whole file is in the table of known releases.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <string>

#include "protocol/firmware/rezedor_evoderev_edar_state.h"

struct FIRMWARE_DETAILS_T {
    std::string release_text;  // model text, " REL-", release in dotted form
    uint32_t version_number;
    uint32_t target_hardware_code;  // tells the models apart; not a footer model code
};

// Known raw images, keyed by the SHA-1 of the whole file as 40 lower-case
// hexadecimal characters. Built before main runs and never changed after.
extern const std::map<QString, FIRMWARE_DETAILS_T> hash_to_release_str_map;

class UnwrappedFirmwareState : public RezedorEvoderevEdarState {
  public:
    static UnwrappedFirmwareState* Instance();
    // The built-in table; later rows with the same key replace earlier ones.
    static std::map<QString, FIRMWARE_DETAILS_T> LoadHashToUnwrappedFirmwareMap();

    uint32_t GetWrapperVersion(RezedorEvoderevEdar* file) override;
    std::string GetVersionString(RezedorEvoderevEdar* file) override;
    uint32_t GetVersionNumber(RezedorEvoderevEdar* file) override;
    uint32_t GetTargetHardware(RezedorEvoderevEdar* file) override;
    QByteArray GetFirmware(RezedorEvoderevEdar* file) override;
    QByteArray GetSha1Hash(RezedorEvoderevEdar* file) override;

  private:
    // The table row of the file as it is now; null when its bytes no longer
    // match any row (the file changed on disk or went away).
    const FIRMWARE_DETAILS_T* FindRow(RezedorEvoderevEdar* file);
};
