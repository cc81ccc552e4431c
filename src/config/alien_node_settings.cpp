#include "config/alien_node_settings.h"

static const uint32_t alien_antenna_delay_ = 16442;

AlienNodeSettings::AlienNodeSettings(uint32_t serial_number, cmd_set_rf_settings_t rf_settings)
    : rf_settings_(rf_settings) {
    SetSerialNumber(serial_number);
    SetEnabled(false);
    SetAntennaDelay(alien_antenna_delay_);
}

AlienNodeSettings::AlienNodeSettings(AlienNodeSettings* other) : AlienNodeSettings(0, {}) {
    if (other != nullptr)
        *this = *other;
}
