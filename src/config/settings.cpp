#include "config/settings.h"

Settings::Settings(Settings* other) : Settings() {
    CopyFromOtherSettings(other);
}

Settings* Settings::GlobalSettings() {
    // Never destroyed, so threads still reading at exit never see a dead object.
    static Settings* const global = new Settings();
    return global;
}

void Settings::CopyFromOtherSettings(Settings* other) {
    if (other == nullptr || other == this)
        return;
    valid_ = other->valid_;
    host_settings_.CopyFromOtherHostSettings(&other->host_settings_);
    rf_network_settings_.CopyFromOtherRfNetworkSettings(&other->rf_network_settings_);
    alien_nodes_ = other->alien_nodes_;
}
