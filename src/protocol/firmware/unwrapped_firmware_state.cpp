#include "protocol/firmware/unwrapped_firmware_state.h"

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
    // These rows are our own test data, not product releases. Each key is the
    // SHA-1 of a stand-in image that tools/make_firmware_table_images.py makes
    // (and prints these rows for): a text that begins "Vorav stand-in test
    // image, not device firmware: ", so no real file matches a row by accident
    // and a stand-in that is opened says it is none. The hashes of the real
    // releases replace them when they are known.
    const std::pair<const char*, FIRMWARE_DETAILS_T> rows[] = {
        {"81805cdad04e500907e06c447134f80ab1613246", {"VORAV-SMA 1.0.1 REL-0.5.0.0", 2, 1}},
        {"41d70659534f51d801d15984a03dc442849e2474", {"VORAV-SMA 1.0.1 REL-0.5.0.1", 3, 1}},
        {"54623881fc87a99eac6119aebef04455709e7330", {"VORAV-SMA 1.0.1 REL-0.5.0.2", 4, 1}},
        {"53fbc3f3bcd2894cb3b55707501e18d1c0f33889", {"VORAV-Ceramic 1.0.0 REL-0.5.0.0", 2, 2}},
        {"94d0ad3e74fcac56503795f1462e182226b376bf", {"VORAV-Ceramic 1.0.0 REL-0.5.0.1", 3, 2}},
        // One image serves the USB model's and the tag's release 0.5.0.2; the
        // tag's row, entered last, is the one kept.
        {"8c9c9fd96d6b47971a71fe3f60fbf40a862768cc", {"VORAV-Ceramic 1.0.0 REL-0.5.0.2", 4, 2}},
        {"8c9c9fd96d6b47971a71fe3f60fbf40a862768cc", {"VORAV-Tag 1.0.0 REL-0.5.0.2", 4, 3}},
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

const FIRMWARE_DETAILS_T* UnwrappedFirmwareState::FindRow(RezedorEvoderevEdar* file) {
    const auto row = hash_to_release_str_map.find(Sha1Text(GetSha1Hash(file)));
    return row == hash_to_release_str_map.end() ? nullptr : &row->second;
}

uint32_t UnwrappedFirmwareState::GetWrapperVersion(RezedorEvoderevEdar*) {
    return 0;
}

std::string UnwrappedFirmwareState::GetVersionString(RezedorEvoderevEdar* file) {
    const FIRMWARE_DETAILS_T* row = FindRow(file);
    return row != nullptr ? row->release_text : std::string();
}

uint32_t UnwrappedFirmwareState::GetVersionNumber(RezedorEvoderevEdar* file) {
    const FIRMWARE_DETAILS_T* row = FindRow(file);
    return row != nullptr ? row->version_number : 0xFFFFFFFF;
}

uint32_t UnwrappedFirmwareState::GetTargetHardware(RezedorEvoderevEdar* file) {
    const FIRMWARE_DETAILS_T* row = FindRow(file);
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
