#include "config/flat_settings_interface.h"

std::string FlatSettingsInterface::GetAlgorithm() const {
    return HostPart()->GetAlgorithm();
}
void FlatSettingsInterface::SetAlgorithm(const std::string& algorithm) {
    HostPart()->SetAlgorithm(algorithm);
}
uint32_t FlatSettingsInterface::GetSmoothingFactor() const {
    return HostPart()->GetSmoothingFactor();
}
void FlatSettingsInterface::SetSmoothingFactor(uint32_t factor) {
    HostPart()->SetSmoothingFactor(factor);
}
BoundingBox FlatSettingsInterface::GetTagBounds() const {
    return HostPart()->GetTagBounds();
}
void FlatSettingsInterface::SetTagBounds(const BoundingBox& tag_bounds) {
    HostPart()->SetTagBounds(tag_bounds);
}
uint32_t FlatSettingsInterface::GetMinimumNumberOfAnchors() const {
    return HostPart()->GetMinimumNumberOfAnchors();
}
void FlatSettingsInterface::SetMinimumNumberOfAnchors(uint32_t count) {
    HostPart()->SetMinimumNumberOfAnchors(count);
}
sensors_config_t FlatSettingsInterface::GetSensorSettings() const {
    return RfPart()->GetTagSensorConfig();
}
void FlatSettingsInterface::SetSensorSettings(const sensors_config_t& config) {
    RfPart()->SetTagSensorConfig(config);
}

NetworkSocketSettings FlatSettingsInterface::GetOutputSocketSettings() const {
    return HostPart()->GetOutputSocketSettings();
}
void FlatSettingsInterface::SetOutputSocketSettings(const NetworkSocketSettings& socket) {
    HostPart()->SetOutputSocketSettings(socket);
}
std::string FlatSettingsInterface::GetOutputUdpAddress() const {
    return GetOutputSocketSettings().GetAddress();
}
uint16_t FlatSettingsInterface::GetOutputUdpPort() const {
    return GetOutputSocketSettings().GetPort();
}
uint16_t FlatSettingsInterface::GetOutputUdpTtl() const {
    return GetOutputSocketSettings().GetTtl();
}
std::string FlatSettingsInterface::GetOutputNetworkInterface() const {
    return GetOutputSocketSettings().GetNetworkIface();
}

NetworkSocketSettings FlatSettingsInterface::GetInputSocketSettings() const {
    return HostPart()->GetInputSocketSettings();
}
void FlatSettingsInterface::SetInputSocketSettings(const NetworkSocketSettings& socket) {
    HostPart()->SetInputSocketSettings(socket);
}
std::string FlatSettingsInterface::GetInputUdpAddress() const {
    return GetInputSocketSettings().GetAddress();
}
uint16_t FlatSettingsInterface::GetInputUdpPort() const {
    return GetInputSocketSettings().GetPort();
}
uint16_t FlatSettingsInterface::GetInputUdpTtl() const {
    return GetInputSocketSettings().GetTtl();
}
std::string FlatSettingsInterface::GetInputNetworkInterface() const {
    return GetInputSocketSettings().GetNetworkIface();
}

NetworkSocketSettings FlatSettingsInterface::GetConfigSocketSettings() const {
    return HostPart()->GetConfigSocketSettings();
}
void FlatSettingsInterface::SetConfigSocketSettings(const NetworkSocketSettings& socket) {
    HostPart()->SetConfigSocketSettings(socket);
}

std::vector<std::string> FlatSettingsInterface::GetSerialPorts() const {
    return HostPart()->GetSerialPorts();
}
void FlatSettingsInterface::SetSerialPorts(const std::vector<std::string>& ports) {
    HostPart()->SetSerialPorts(ports);
}

std::vector<TagSettings> FlatSettingsInterface::GetTagList() const {
    return RfPart()->GetTags();
}
void FlatSettingsInterface::SetTagList(const std::vector<TagSettings>& tags) {
    RfPart()->SetTags(tags);
}
std::vector<AnchorSettings> FlatSettingsInterface::GetAnchorList() const {
    return RfPart()->GetAnchors();
}
void FlatSettingsInterface::SetAnchorList(const std::vector<AnchorSettings>& anchors) {
    RfPart()->SetAnchors(anchors);
}
std::vector<MasterSettings> FlatSettingsInterface::GetMasterList() const {
    return RfPart()->GetMasters();
}
void FlatSettingsInterface::SetMasterList(const std::vector<MasterSettings>& masters) {
    RfPart()->SetMasters(masters);
}
std::vector<AlienNodeSettings> FlatSettingsInterface::GetAlienNodeList() const {
    return settings_->GetAlienNodeList();
}

cmd_set_rf_settings_t FlatSettingsInterface::GetRfSettings() const {
    return RfPart()->GetRfSettings();
}
void FlatSettingsInterface::SetRfSettings(const cmd_set_rf_settings_t& rf_settings) {
    RfPart()->SetRfSettings(rf_settings);
}
double FlatSettingsInterface::GetSyncRate() const {
    return RfPart()->GetSyncRate();
}
void FlatSettingsInterface::SetSyncRate(double sync_rate) {
    RfPart()->SetSyncRate(sync_rate);
}

double FlatSettingsInterface::GetVmMinStopThreshold() const {
    return HostPart()->GetVmMinStopThreshold();
}
double FlatSettingsInterface::GetVmRejectionThreshold() const {
    return HostPart()->GetVmRejectionThreshold();
}
double FlatSettingsInterface::GetVmVectorGain() const {
    return HostPart()->GetVmVectorGain();
}
double FlatSettingsInterface::GetMaxTagVelocity() const {
    return HostPart()->GetMaxTagVelocity();
}
double FlatSettingsInterface::GetSpeedOfLight() const {
    return HostPart()->GetSpeedOfLight();
}
bool FlatSettingsInterface::GetUseRdoaSanityCheck() const {
    return HostPart()->GetUseRdoaSanityCheck();
}
bool FlatSettingsInterface::GetUseSmoothedPositionGuess() const {
    return HostPart()->GetSmoothPositionGuess();
}
bool FlatSettingsInterface::GetUseOcclusionMitigation() const {
    return HostPart()->GetUseOcclusionMitigation();
}

uint32_t FlatSettingsInterface::GetNumberOfActiveWirelessAnchors() const {
    uint32_t count = 0;
    for (const AnchorSettings& anchor : RfPart()->GetAnchors()) {
        if (anchor.GetEnabled() && anchor.GetBackhaulType() != "wired")
            ++count;
    }
    return count;
}

uint32_t FlatSettingsInterface::GetNumberOfActiveTags() const {
    uint32_t count = 0;
    for (const TagSettings& tag : RfPart()->GetTags()) {
        if (tag.GetEnabled())
            ++count;
    }
    return count;
}
