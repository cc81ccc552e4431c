#pragma once
// The whole configuration of the system in memory, and the process-wide instance.
// There is no lock: the settings change only while the host is shut down, from one
// thread at a time (see FlatSettingsInterface for the readers).

#include <vector>

#include "config/alien_node_settings.h"
#include "config/host_settings.h"
#include "config/rf_network_settings.h"

class Settings {
  public:
    Settings() = default;
    explicit Settings(Settings* other);

    // Created on the first call; lives until the process ends.
    static Settings* GlobalSettings();

    bool IsValid() const { return valid_; }
    void MarkValid() { valid_ = true; }

    HostSettings* GetHostSettingsReference() { return &host_settings_; }
    RfNetworkSettings* GetRfNetworkSettingsReference() { return &rf_network_settings_; }

    std::vector<AlienNodeSettings> GetAlienNodeList() const { return alien_nodes_; }
    void SetAlienNodeList(const std::vector<AlienNodeSettings>& alien_nodes) { alien_nodes_ = alien_nodes; }

    void SetHostSettings(const HostSettings& host_settings) { host_settings_ = host_settings; }
    void SetRfNetworkSettings(const RfNetworkSettings& rf_network_settings) {
        rf_network_settings_ = rf_network_settings;
    }

    void CopyFromOtherSettings(Settings* other);

  private:
    std::vector<AlienNodeSettings> alien_nodes_;
    HostSettings host_settings_;
    RfNetworkSettings rf_network_settings_;
    bool valid_ = false;  // a configuration has been loaded or applied
};
