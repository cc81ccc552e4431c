#pragma once
// One configured device (NodeSettings) and its three kinds: anchors, masters and tags.
// Plain values, copied freely.

#include <cstdint>
#include <string>

#include "protocol/packets/set_mpu_config_packet.h"

class NodeSettings {
  public:
    NodeSettings() = default;
    explicit NodeSettings(NodeSettings* other);

    uint32_t GetSerialNumber() const { return serial_number_; }
    void SetSerialNumber(uint32_t serial_number) { serial_number_ = serial_number; }
    uint32_t GetAntennaDelay() const { return antenna_delay_; }
    void SetAntennaDelay(uint32_t antenna_delay) { antenna_delay_ = antenna_delay; }
    bool GetEnabled() const { return enabled_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }

  private:
    uint32_t serial_number_ = 0;
    uint32_t antenna_delay_ = 0;  // device ticks
    bool enabled_ = true;
};

class AnchorSettings : public NodeSettings {
  public:
    AnchorSettings() = default;
    explicit AnchorSettings(AnchorSettings* other);

    std::string GetBackhaulType() const { return backhaul_type_; }
    void SetBackhaulType(const std::string& backhaul_type) { backhaul_type_ = backhaul_type; }
    double GetX() const { return x_; }
    void SetX(double x) { x_ = x; }
    double GetY() const { return y_; }
    void SetY(double y) { y_ = y; }
    double GetZ() const { return z_; }
    void SetZ(double z) { z_ = z; }

    // Only "uwb" counts here; the RF budget's count treats every type but "wired" as
    // wireless (FlatSettingsInterface::GetNumberOfActiveWirelessAnchors).
    bool IsWireless() const { return backhaul_type_ == "uwb"; }

  private:
    std::string backhaul_type_;  // "uwb" or "wired"
    double x_ = 0.0;             // metres
    double y_ = 0.0;
    double z_ = 0.0;
};

class MasterSettings : public NodeSettings {
  public:
    MasterSettings() = default;
    explicit MasterSettings(MasterSettings* other);

    double GetX() const { return x_; }
    void SetX(double x) { x_ = x; }
    double GetY() const { return y_; }
    void SetY(double y) { y_ = y; }
    double GetZ() const { return z_; }
    void SetZ(double z) { z_ = z; }

  private:
    double x_ = 0.0;  // metres
    double y_ = 0.0;
    double z_ = 0.0;
};

// Per-tag sensor record. Nothing fills or reads it yet; it travels with its tag.
struct tag_sensor_settings_t {
    uint8_t reserved_0;
    uint8_t reserved_1;
    sensors_config_t sensors_config;
};

class TagSettings : public NodeSettings {
  public:
    TagSettings() = default;
    explicit TagSettings(TagSettings* other);

    uint16_t GetPayloadSize() const { return payload_size_; }
    tag_sensor_settings_t GetSensorSettings() const { return sensor_settings_; }

  private:
    uint16_t payload_size_ = 0;
    tag_sensor_settings_t sensor_settings_{};
};
