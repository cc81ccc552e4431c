#include "protocol/firmware/null_firmware_file_state.h"

#include <mutex>

namespace {

// Created on first use, never destroyed. The once flag makes a first use from
// two threads at the same time safe.
NullFirmwareFileState* instance_ = nullptr;
std::once_flag instance_once_;

}  // namespace

NullFirmwareFileState* NullFirmwareFileState::Instance() {
    std::call_once(instance_once_, [] { instance_ = new NullFirmwareFileState(); });
    return instance_;
}

uint32_t NullFirmwareFileState::GetWrapperVersion(RezedorEvoderevEdar*) {
    return 0xFFFFFFFF;
}

std::string NullFirmwareFileState::GetVersionString(RezedorEvoderevEdar*) {
    return std::string();
}

uint32_t NullFirmwareFileState::GetVersionNumber(RezedorEvoderevEdar*) {
    return 0xFFFFFFFF;
}

uint32_t NullFirmwareFileState::GetTargetHardware(RezedorEvoderevEdar*) {
    return 0xFFFFFFFF;
}

QByteArray NullFirmwareFileState::GetFirmware(RezedorEvoderevEdar*) {
    return QByteArray();
}

QByteArray NullFirmwareFileState::GetSha1Hash(RezedorEvoderevEdar*) {
    return QByteArray();
}
