#pragma once
// Flat access to one Settings object. Built on the stack wherever a value is needed,
// so every call reads the settings as they are at that moment. Takes no lock: the
// settings change only while the host is shut down.

#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"

class FlatSettingsInterface {
  public:
    explicit FlatSettingsInterface(Settings* settings) : settings_(settings) {}

    HostSettings* GetHostSettings() const { return settings_->GetHostSettingsReference(); }
    RfNetworkSettings* GetRfNtwrkSettings() const { return settings_->GetRfNetworkSettingsReference(); }

    std::string GetAlgorithm() const;
    void SetAlgorithm(const std::string& algorithm);
    uint32_t GetSmoothingFactor() const;
    void SetSmoothingFactor(uint32_t factor);
    BoundingBox GetTagBounds() const;
    void SetTagBounds(const BoundingBox& tag_bounds);
    uint32_t GetMinimumNumberOfAnchors() const;
    void SetMinimumNumberOfAnchors(uint32_t count);
    sensors_config_t GetSensorSettings() const;
    void SetSensorSettings(const sensors_config_t& config);

    NetworkSocketSettings GetOutputSocketSettings() const;
    void SetOutputSocketSettings(const NetworkSocketSettings& socket);
    std::string GetOutputUdpAddress() const;
    uint16_t GetOutputUdpPort() const;
    uint16_t GetOutputUdpTtl() const;
    std::string GetOutputNetworkInterface() const;

    NetworkSocketSettings GetInputSocketSettings() const;
    void SetInputSocketSettings(const NetworkSocketSettings& socket);
    std::string GetInputUdpAddress() const;
    uint16_t GetInputUdpPort() const;
    uint16_t GetInputUdpTtl() const;
    std::string GetInputNetworkInterface() const;

    NetworkSocketSettings GetConfigSocketSettings() const;
    void SetConfigSocketSettings(const NetworkSocketSettings& socket);

    std::vector<std::string> GetSerialPorts() const;
    void SetSerialPorts(const std::vector<std::string>& ports);

    std::vector<TagSettings> GetTagList() const;
    void SetTagList(const std::vector<TagSettings>& tags);
    std::vector<AnchorSettings> GetAnchorList() const;
    void SetAnchorList(const std::vector<AnchorSettings>& anchors);
    std::vector<MasterSettings> GetMasterList() const;
    void SetMasterList(const std::vector<MasterSettings>& masters);
    std::vector<AlienNodeSettings> GetAlienNodeList() const;

    cmd_set_rf_settings_t GetRfSettings() const;
    void SetRfSettings(const cmd_set_rf_settings_t& rf_settings);
    double GetSyncRate() const;  // hertz
    void SetSyncRate(double sync_rate);

    double GetVmMinStopThreshold() const;
    double GetVmRejectionThreshold() const;
    double GetVmVectorGain() const;
    double GetMaxTagVelocity() const;
    double GetSpeedOfLight() const;
    bool GetUseRdoaSanityCheck() const;
    bool GetUseSmoothedPositionGuess() const;
    bool GetUseOcclusionMitigation() const;

    // Enabled anchors whose backhaul is not "wired": an empty or unknown type counts as
    // wireless here, unlike AnchorSettings::IsWireless.
    uint32_t GetNumberOfActiveWirelessAnchors() const;
    uint32_t GetNumberOfActiveTags() const;

  private:
    HostSettings* HostPart() const { return settings_->GetHostSettingsReference(); }
    RfNetworkSettings* RfPart() const { return settings_->GetRfNetworkSettingsReference(); }

    Settings* settings_;
};
