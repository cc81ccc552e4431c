#include "host/devices/dw_command.h"

#include "base/byte_order.h"

namespace dp = device_protocol;

namespace {

// The low 32 bits of the base: network time is a 32-bit count, and summing in
// unsigned 32 bits cannot overflow whatever the signed 64-bit base holds.
uint32_t Low32(int64_t value) {
    return static_cast<uint32_t>(static_cast<uint64_t>(value));
}

constexpr uint32_t kLedStartDelay = 70;
constexpr uint32_t kLedDurationPeriods = 10;

}  // namespace

void DwCommand::UpdateTiming(uint32_t, int64_t, uint32_t) {}

uint32_t DwCommand::CalculateNextExecutableGnt(uint32_t now, uint32_t, int64_t base, uint32_t period) const {
    return now + Low32(base) + 2u * period;
}

DwLedCommand::DwLedCommand() : DwRecordCommand({dp::kCmdLedControl, dp::kCmdLedControlLen, 0, 0, 0}) {}

void DwLedCommand::UpdateTiming(uint32_t now, int64_t base, uint32_t period) {
    record_.duration = kLedDurationPeriods * period;
    record_.execution_time = CalculateNextExecutableGnt(now, 0, base, period) + kLedStartDelay;
}

DwTransmitCommand::DwTransmitCommand() : DwRecordCommand({dp::kCmdTransmit, dp::kCmdTransmitLen, 0, 0, 0}) {}

void DwTransmitCommand::UpdateTiming(uint32_t now, int64_t base, uint32_t period) {
    record_.execution_time = CalculateNextExecutableGnt(now, record_.repeat_rate, base, period);
    record_.repeat_rate = period;
}

DwReceiveCommand::DwReceiveCommand() : DwRecordCommand({dp::kCmdReceive, dp::kCmdReceiveLen, 0, 0, 0}) {}

void DwReceiveCommand::SetContinuous() {
    record_.reception_parameter_1 = 0;
    record_.reception_parameter_2 = 0;
}

void DwReceiveCommand::UpdateTiming(uint32_t, int64_t base, uint32_t period) {
    record_.execution_time = Low32(base) + period / 2;
}

DwAddressSetCommand::DwAddressSetCommand()
    : DwRecordCommand({dp::kCmdSetDeviceAddr, dp::kCmdSetDeviceAddrLen, 0, 0}) {}

DwAddressSelectCommand::DwAddressSelectCommand()
    : record_{dp::kCmdSelectDeviceAddr, dp::kCmdSelectDeviceAddrLen}, network_address_(0) {}

uint32_t DwAddressSelectCommand::ToBuff(uint8_t* buffer, uint32_t length) const {
    if (length < GetSize())
        return kBufferTooShort;
    const int head = CmdSelectDeviceAddr_ToBuff(buffer, &record_);
    wire::write_be16(buffer + head, network_address_);
    return GetSize();
}

uint32_t DwAddressSelectCommand::GetSize() const {
    return dp::kCmdSelectDeviceAddrLen;
}

DwSetRfSettingsCommand::DwSetRfSettingsCommand(const cmd_set_rf_settings_t& rfSettings)
    : DwRecordCommand(rfSettings) {}

void DwSetRfSettingsCommand::UpdateTiming(uint32_t now, int64_t base, uint32_t period) {
    record_.execution_time = CalculateNextExecutableGnt(now, 0, base, period);
}

DwResetDeviceCommand::DwResetDeviceCommand()
    : DwRecordCommand({dp::kCmdResetDevice, dp::kCmdResetDeviceLen, 0}) {}

DwSetCollectorPacketsCommand::DwSetCollectorPacketsCommand()
    : record_{dp::kCmdSetCollectorPackets, dp::kCmdSetCollectorPacketsLen} {}

bool DwSetCollectorPacketsCommand::AddCollectorSetting(uint8_t first, uint8_t second) {
    // A 127th pair would wrap the one-byte size to 0 and the device would
    // read a corrupt command list.
    if (settings_.size() >= static_cast<size_t>(kMaximumCollectorSettings))
        return false;
    settings_.emplace_back(first, second);
    record_.len = static_cast<uint8_t>(record_.len + 2);
    return true;
}

uint32_t DwSetCollectorPacketsCommand::ToBuff(uint8_t* buffer, uint32_t length) const {
    if (length < GetSize())
        return kBufferTooShort;
    uint8_t* position = buffer + CmdSetCollectorPackets_ToBuff(buffer, &record_);
    for (const auto& setting : settings_) {
        position[0] = setting.first;
        position[1] = setting.second;
        position += 2;
    }
    return GetSize();
}

uint32_t DwSetCollectorPacketsCommand::GetSize() const {
    return record_.len;
}

DwSetAnchorReportSizeCommand::DwSetAnchorReportSizeCommand()
    : DwRecordCommand({dp::kCmdSetAnchorReportSize, dp::kCmdSetAnchorReportSizeLen, 0}) {}

DwSetSensorSettingsCommand::DwSetSensorSettingsCommand()
    : DwRecordCommand({dp::kCmdSetMpuConfig, dp::kCmdSetMpuConfigLen, sensors_config_t{}}) {}

DwSetUserDataSizeCommand::DwSetUserDataSizeCommand(uint16_t bytes)
    : DwRecordCommand({dp::kCmdSetUserdataSize, dp::kCmdSetUserdataSizeLen, bytes}) {}
