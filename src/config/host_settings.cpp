#include "config/host_settings.h"

HostSettings::HostSettings()
    : output_socket_(NetworkSocketSettings::Default()),
      input_socket_(NetworkSocketSettings::Default()),
      config_socket_(NetworkSocketSettings::Default()) {}

void HostSettings::CopyFromOtherHostSettings(HostSettings* other) {
    if (other != nullptr && other != this)
        *this = *other;
}
