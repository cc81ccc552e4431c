#include "protocol/firmware/cbin_version1_firmware_state.h"

#include <QBuffer>
#include <QIODevice>
#include <cstdio>
#include <mutex>

#include "base/byte_order.h"
#include "base/serial_number.h"

namespace {

CBinVersion1FirmwareState* instance_ = nullptr;
std::once_flag instance_once_;

const uint8_t* Bytes(const QByteArray& array) {
    return reinterpret_cast<const uint8_t*>(array.constData());
}

}  // namespace

CBinVersion1FirmwareState* CBinVersion1FirmwareState::Instance() {
    std::call_once(instance_once_, [] { instance_ = new CBinVersion1FirmwareState(); });
    return instance_;
}

QByteArray CBinVersion1FirmwareState::GetCBinFooter(RezedorEvoderevEdar* file) {
    QByteArray footer;
    QFile* qfile = GetQFile(file).data();
    if (qfile != nullptr) {
        ReadFileRange(qfile, qfile->size() - CBIN_FOOTER_SIZE, CBIN_FOOTER_SIZE, &footer);
    }
    return footer;
}

bool CBinVersion1FirmwareState::ReadFooterField(RezedorEvoderevEdar* file, int offset, int length,
                                                QByteArray* field) {
    QByteArray footer = GetCBinFooter(file);
    if (footer.size() != CBIN_FOOTER_SIZE) {
        return false;
    }
    QBuffer buffer(&footer);
    if (!buffer.open(QIODevice::ReadOnly) || !buffer.seek(offset)) {
        return false;
    }
    *field = buffer.read(length);
    return field->size() == length;
}

uint32_t CBinVersion1FirmwareState::GetWrapperVersion(RezedorEvoderevEdar* file) {
    QByteArray field;
    if (!ReadFooterField(file, CBIN_WRAPPER_VERSION_OFFSET, 2, &field)) {
        return 0xFFFFFFFF;
    }
    return wire::read_be16(Bytes(field));
}

std::string CBinVersion1FirmwareState::GetVersionString(RezedorEvoderevEdar* file) {
    QByteArray field;
    if (!ReadFooterField(file, CBIN_VERSION_OFFSET, 6, &field)) {
        return std::string();
    }
    const uint8_t* bytes = Bytes(field);
    const unsigned char vendor = bytes[4];
    const unsigned char product = bytes[5];
    std::printf("%hhu.%hhu.%hhu.%hhu\n%hhu:%hhu:xxxx\n", bytes[0], bytes[1], bytes[2], bytes[3], vendor,
                product);
    std::fflush(stdout);

    const uint16_t hardware = static_cast<uint16_t>((vendor << 8) + product);
    if (hardware != CBIN_KNOWN_HARDWARE) {
        std::printf("Unknown hardware version in footer (%hx)\n", hardware);
        std::fflush(stdout);
        return "Unrecognized Firmware\n";
    }
    char text[128] = {};
    const std::string model = SerialNumber_GetDeviceTypeString(SerialNumber_Create(vendor, product, 0));
    std::snprintf(text, sizeof(text), "%s REL-%hu.%hu.%hu.%hu", model.c_str(),
                  static_cast<unsigned short>(bytes[0]), static_cast<unsigned short>(bytes[1]),
                  static_cast<unsigned short>(bytes[2]), static_cast<unsigned short>(bytes[3]));
    return text;
}

uint32_t CBinVersion1FirmwareState::GetVersionNumber(RezedorEvoderevEdar* file) {
    QByteArray field;
    if (!ReadFooterField(file, CBIN_VERSION_OFFSET, 4, &field)) {
        return 0xFFFFFFFF;
    }
    return wire::read_be32(Bytes(field));
}

uint32_t CBinVersion1FirmwareState::GetTargetHardware(RezedorEvoderevEdar* file) {
    QByteArray field;
    if (!ReadFooterField(file, CBIN_TARGET_HARDWARE_OFFSET, 2, &field)) {
        return 0xFFFFFFFF;
    }
    return SerialNumber_Create(Bytes(field)[0], Bytes(field)[1], 0);
}

QByteArray CBinVersion1FirmwareState::GetFirmware(RezedorEvoderevEdar* file) {
    QByteArray image;
    QFile* qfile = GetQFile(file).data();
    if (qfile != nullptr) {
        ReadFileRange(qfile, 0, qfile->size() - CBIN_FOOTER_SIZE, &image);
    }
    return image;
}

QByteArray CBinVersion1FirmwareState::GetSha1Hash(RezedorEvoderevEdar* file) {
    QByteArray field;
    ReadFooterField(file, CBIN_SHA1_OFFSET, CBIN_SHA1_SIZE, &field);
    return field.size() == CBIN_SHA1_SIZE ? field : QByteArray();
}
