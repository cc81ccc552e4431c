#include "protocol/unwrapped_firmware_state.h"

#include <mutex>
#include <utility>

namespace {

UnwrappedFirmwareState* instance_ = nullptr;
std::once_flag instance_once_;

}  // namespace

// Built during static initialisation, before main runs.
const std::map<QString, FIRMWARE_DETAILS_T> hash_to_release_str_map =
    UnwrappedFirmwareState::LoadHashToUnwrappedFirmwareMap();

std::map<QString, FIRMWARE_DETAILS_T> UnwrappedFirmwareState::LoadHashToUnwrappedFirmwareMap() {
    // Each key names a generated stand-in image (tools/make_firmware_table_images.py
    // prints these rows) until the hashes of the real releases are entered.
    const std::pair<const char*, FIRMWARE_DETAILS_T> rows[] = {
        {"ba29eec7f3b96c7a9ffb5792337466318e90e164", {"VORAV-SMA 1.0.1 REL-0.5.0.0", 2, 1}},
        {"9bf93193fcb9e9df7d04565170f99267e9595598", {"VORAV-SMA 1.0.1 REL-0.5.0.1", 3, 1}},
        {"04b49f00b768868173dc7a983b06526b64e12bce", {"VORAV-SMA 1.0.1 REL-0.5.0.2", 4, 1}},
        {"bc7fe8b4fb320bfa5482057406029fc924385dca", {"VORAV-Ceramic 1.0.0 REL-0.5.0.0", 2, 2}},
        {"29caecdd67f6bed221ae0a63ca652ac24f6343d8", {"VORAV-Ceramic 1.0.0 REL-0.5.0.1", 3, 2}},
        // One image serves the USB model's and the tag's release 0.5.0.2; the
        // tag's row, entered last, is the one kept.
        {"ded8ae0ed275c4292d798fa3dd5ba07794469f93", {"VORAV-Ceramic 1.0.0 REL-0.5.0.2", 4, 2}},
        {"ded8ae0ed275c4292d798fa3dd5ba07794469f93", {"VORAV-Tag 1.0.0 REL-0.5.0.2", 4, 3}},
    };
    std::map<QString, FIRMWARE_DETAILS_T> table;
    for (const auto& row : rows) {
        table[QString::fromLatin1(row.first)] = row.second;
    }
    return table;
}

UnwrappedFirmwareState* UnwrappedFirmwareState::Instance() {
    std::call_once(instance_once_, [] { instance_ = new UnwrappedFirmwareState(); });
    return instance_;
}

const FIRMWARE_DETAILS_T* UnwrappedFirmwareState::_FindRow(RezedorEvoderevEdar* file) {
    const auto row = hash_to_release_str_map.find(Sha1Text(GetSha1Hash(file)));
    return row == hash_to_release_str_map.end() ? nullptr : &row->second;
}

uint32_t UnwrappedFirmwareState::GetWrapperVersion(RezedorEvoderevEdar*) {
    return 0;
}

std::string UnwrappedFirmwareState::GetVersionString(RezedorEvoderevEdar* file) {
    const FIRMWARE_DETAILS_T* row = _FindRow(file);
    return row != nullptr ? row->release_text : std::string();
}

uint32_t UnwrappedFirmwareState::GetVersionNumber(RezedorEvoderevEdar* file) {
    const FIRMWARE_DETAILS_T* row = _FindRow(file);
    return row != nullptr ? row->version_number : 0xFFFFFFFF;
}

uint32_t UnwrappedFirmwareState::GetTargetHardware(RezedorEvoderevEdar* file) {
    const FIRMWARE_DETAILS_T* row = _FindRow(file);
    return row != nullptr ? row->target_hardware_code : 0xFFFFFFFF;
}

QByteArray UnwrappedFirmwareState::GetFirmware(RezedorEvoderevEdar* file) {
    QByteArray bytes;
    ReadWholeFile(GetQFile(file).data(), &bytes);
    return bytes;
}

QByteArray UnwrappedFirmwareState::GetSha1Hash(RezedorEvoderevEdar* file) {
    QByteArray bytes;
    return ReadWholeFile(GetQFile(file).data(), &bytes) ? Sha1(bytes) : QByteArray();
}
