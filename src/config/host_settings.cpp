#include "config/host_settings.h"

static const char* const default_address_ = "239.255.76.67";
static const uint16_t default_port_ = 7667;
static const uint16_t default_ttl_ = 1;
static const char* const default_interface_ = "lo";

HostSettings::HostSettings()
    : output_socket_(default_address_, default_port_, default_ttl_, default_interface_),
      input_socket_(default_address_, default_port_, default_ttl_, default_interface_),
      config_socket_(default_address_, default_port_, default_ttl_, default_interface_) {}

void HostSettings::CopyFromOtherHostSettings(HostSettings* other) {
    if (other != nullptr && other != this)
        *this = *other;
}
