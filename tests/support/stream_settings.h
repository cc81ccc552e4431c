#pragma once

#include <cstdint>

#include "config/settings.h"
#include "support/process_multicast_group.h"

// Settings whose External (output) and Internal (input) streams are this
// process's loopback streams on the given ports; the rest is the defaults.
inline Settings StreamSettings(uint16_t external_port, uint16_t internal_port) {
    Settings settings;
    settings.GetHostSettingsReference()->SetOutputSocketSettings(LoopbackStream(external_port));
    settings.GetHostSettingsReference()->SetInputSocketSettings(LoopbackStream(internal_port));
    return settings;
}
