#pragma once
// A device of another known network: recognised, never admitted into this one.
// Built disabled, with antenna delay 16442.

#include <cstdint>

#include "config/node_settings.h"
#include "protocol/packets/set_rf_settings_packet.h"

class AlienNodeSettings : public NodeSettings {
  public:
    AlienNodeSettings(uint32_t serial_number, cmd_set_rf_settings_t rf_settings);
    explicit AlienNodeSettings(AlienNodeSettings* other);

    cmd_set_rf_settings_t GetRfSettings() const { return rf_settings_; }

  private:
    cmd_set_rf_settings_t rf_settings_{};
};
