#pragma once
// Device commands: each object holds one device command record, encodes it
// and can have its execution time stamped just before it is sent. The
// location engine encodes a node's list one command after the other into the
// master's sync commands or a wired anchor's command message.

#include <cstdint>
#include <utility>
#include <vector>

#include "protocol/packets/device_protocol.h"
#include "protocol/packets/led_control_packet.h"
#include "protocol/packets/receive_packet.h"
#include "protocol/packets/reset_device_packet.h"
#include "protocol/packets/select_device_addr_packet.h"
#include "protocol/packets/set_anchor_report_size_packet.h"
#include "protocol/packets/set_collector_packets_packet.h"
#include "protocol/packets/set_device_addr_packet.h"
#include "protocol/packets/set_mpu_config_packet.h"
#include "protocol/packets/set_rf_settings_packet.h"
#include "protocol/packets/set_userdata_size_packet.h"
#include "protocol/packets/transmit_packet.h"

class DwCommand {
  public:
    // What ToBuff returns for a buffer shorter than the command.
    static constexpr uint32_t kBufferTooShort = 0xFFFFFFFF;

    // Writes the command and returns its size, or kBufferTooShort (writing
    // nothing) when length is below GetSize().
    virtual uint32_t ToBuff(uint8_t* buffer, uint32_t length) const = 0;
    // Sets the timing fields from the current network time, the base added
    // to it and the sync period, all in network-time units. Commands without
    // timing fields ignore it.
    virtual void UpdateTiming(uint32_t now, int64_t base, uint32_t period);
    // Total size in bytes, the value of the command's size byte.
    virtual uint32_t GetSize() const = 0;

    virtual ~DwCommand() = default;

    // now + base + 2 x period, in unsigned 32-bit arithmetic: two sync periods
    // after the base time, so the command reaches every device before it is
    // due. The second argument takes no part.
    uint32_t CalculateNextExecutableGnt(uint32_t now, uint32_t ignored, int64_t base, uint32_t period) const;

    DwCommand(const DwCommand&) = delete;
    DwCommand& operator=(const DwCommand&) = delete;

  protected:
    DwCommand() = default;
};

// A command whose whole record is written by one codec of a fixed size.
template <typename Record, int (*Encode)(uint8_t*, const Record*), uint32_t Size>
class DwRecordCommand : public DwCommand {
  public:
    uint32_t ToBuff(uint8_t* buffer, uint32_t length) const override {
        if (length < Size)
            return kBufferTooShort;
        return static_cast<uint32_t>(Encode(buffer, &record_));
    }
    uint32_t GetSize() const override { return Size; }

  protected:
    explicit DwRecordCommand(const Record& record) : record_(record) {}
    Record record_;
};

class DwLedCommand final
    : public DwRecordCommand<cmd_led_control_t, CmdLedControl_ToBuff, device_protocol::kCmdLedControlLen> {
  public:
    DwLedCommand();
    void SetLedOperation(uint8_t operation) { record_.led_operation = operation; }
    // Blinks for ten sync periods, starting 70 units after the next executable time.
    void UpdateTiming(uint32_t now, int64_t base, uint32_t period) override;
};

class DwTransmitCommand final
    : public DwRecordCommand<cmd_transmit_t, CmdTransmit_ToBuff, device_protocol::kCmdTransmitLen> {
  public:
    DwTransmitCommand();
    // Stored in the 16-bit field with the high byte 0.
    void SetTransmissionType(uint8_t type) { record_.transmission_type = type; }
    void SetRepeatRate(uint32_t rate) { record_.repeat_rate = rate; }
    // Replaces the repeat rate by the sync period.
    void UpdateTiming(uint32_t now, int64_t base, uint32_t period) override;
};

class DwReceiveCommand final
    : public DwRecordCommand<cmd_receive_t, CmdReceive_ToBuff, device_protocol::kCmdReceiveLen> {
  public:
    DwReceiveCommand();
    void SetContinuous();
    // Half a sync period after the base time; now takes no part.
    void UpdateTiming(uint32_t now, int64_t base, uint32_t period) override;
};

class DwAddressSetCommand final : public DwRecordCommand<cmd_set_device_addr_t, CmdSetDeviceAddr_ToBuff,
                                                         device_protocol::kCmdSetDeviceAddrLen> {
  public:
    DwAddressSetCommand();
    void SetSerialNumber(uint32_t serialNumber) { record_.serial_number = serialNumber; }
    void SetNetworkAddress(uint16_t address) { record_.network_id = address; }
};

class DwAddressSelectCommand final : public DwCommand {
  public:
    DwAddressSelectCommand();
    void SetNetworkAddress(uint16_t address) { network_address_ = address; }
    // The record's codec writes type and size; the address follows them.
    uint32_t ToBuff(uint8_t* buffer, uint32_t length) const override;
    uint32_t GetSize() const override;

  private:
    cmd_select_device_addr_t record_;
    uint16_t network_address_;
};

class DwSetRfSettingsCommand final : public DwRecordCommand<cmd_set_rf_settings_t, CmdSetRfSettings_ToBuff,
                                                            device_protocol::kCmdSetRfSettingsLen> {
  public:
    // Sent with the type and size bytes the record carries.
    explicit DwSetRfSettingsCommand(const cmd_set_rf_settings_t& rfSettings);
    void UpdateTiming(uint32_t now, int64_t base, uint32_t period) override;
};

// Not sent by the server; its 32-bit field stays 0.
class DwResetDeviceCommand final
    : public DwRecordCommand<cmd_reset_device_t, CmdResetDevice_ToBuff, device_protocol::kCmdResetDeviceLen> {
  public:
    DwResetDeviceCommand();
};

class DwSetCollectorPacketsCommand final : public DwCommand {
  public:
    // The size byte holds 2 + 2n, so at most this many pairs fit.
    static constexpr int kMaximumCollectorSettings = 126;

    DwSetCollectorPacketsCommand();
    // Appends a pair and adds 2 to the size; refuses (false) a pair that
    // would carry the size past 255.
    bool AddCollectorSetting(uint8_t first, uint8_t second);
    // The record's codec writes type and size; the pairs follow in the order added.
    uint32_t ToBuff(uint8_t* buffer, uint32_t length) const override;
    uint32_t GetSize() const override;

  private:
    cmd_set_collector_packets_t record_;
    std::vector<std::pair<uint8_t, uint8_t>> settings_;
};

class DwSetAnchorReportSizeCommand final
    : public DwRecordCommand<cmd_set_anchor_report_size_t, CmdSetAnchorReportSize_ToBuff,
                             device_protocol::kCmdSetAnchorReportSizeLen> {
  public:
    DwSetAnchorReportSizeCommand();
    void SetAnchorReportSize(uint16_t bytes) { record_.report_size = bytes; }
};

class DwSetSensorSettingsCommand final : public DwRecordCommand<cmd_set_mpu_config_t, CmdSetMpuConfig_ToBuff,
                                                                device_protocol::kCmdSetMpuConfigLen> {
  public:
    DwSetSensorSettingsCommand();
    void SetSensorConfig(sensors_config_t config) { record_.sensors_config = config; }
};

class DwSetUserDataSizeCommand final
    : public DwRecordCommand<cmd_set_userdata_size_t, CmdSetUserdataSize_ToBuff,
                             device_protocol::kCmdSetUserdataSizeLen> {
  public:
    explicit DwSetUserDataSizeCommand(uint16_t bytes);
};
