#include "config/flat_settings_interface.h"

std::string FlatSettingsInterface::GetAlgorithm() const {
    return _Host()->GetAlgorithm();
}
void FlatSettingsInterface::SetAlgorithm(const std::string& algorithm) {
    _Host()->SetAlgorithm(algorithm);
}
uint32_t FlatSettingsInterface::GetSmoothingFactor() const {
    return _Host()->GetSmoothingFactor();
}
void FlatSettingsInterface::SetSmoothingFactor(uint32_t factor) {
    _Host()->SetSmoothingFactor(factor);
}
BoundingBox FlatSettingsInterface::GetTagBounds() const {
    return _Host()->GetTagBounds();
}
void FlatSettingsInterface::SetTagBounds(const BoundingBox& tag_bounds) {
    _Host()->SetTagBounds(tag_bounds);
}
uint32_t FlatSettingsInterface::GetMinimumNumberOfAnchors() const {
    return _Host()->GetMinimumNumberOfAnchors();
}
void FlatSettingsInterface::SetMinimumNumberOfAnchors(uint32_t count) {
    _Host()->SetMinimumNumberOfAnchors(count);
}
sensors_config_t FlatSettingsInterface::GetSensorSettings() const {
    return _Rf()->GetTagSensorConfig();
}
void FlatSettingsInterface::SetSensorSettings(const sensors_config_t& config) {
    _Rf()->SetTagSensorConfig(config);
}

NetworkSocketSettings FlatSettingsInterface::GetOutputSocketSettings() const {
    return _Host()->GetOutputSocketSettings();
}
void FlatSettingsInterface::SetOutputSocketSettings(const NetworkSocketSettings& socket) {
    _Host()->SetOutputSocketSettings(socket);
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
    return _Host()->GetInputSocketSettings();
}
void FlatSettingsInterface::SetInputSocketSettings(const NetworkSocketSettings& socket) {
    _Host()->SetInputSocketSettings(socket);
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
    return _Host()->GetConfigSocketSettings();
}
void FlatSettingsInterface::SetConfigSocketSettings(const NetworkSocketSettings& socket) {
    _Host()->SetConfigSocketSettings(socket);
}

std::vector<std::string> FlatSettingsInterface::GetSerialPorts() const {
    return _Host()->GetSerialPorts();
}
void FlatSettingsInterface::SetSerialPorts(const std::vector<std::string>& ports) {
    _Host()->SetSerialPorts(ports);
}

std::vector<TagSettings> FlatSettingsInterface::GetTagList() const {
    return _Rf()->GetTags();
}
void FlatSettingsInterface::SetTagList(const std::vector<TagSettings>& tags) {
    _Rf()->SetTags(tags);
}
std::vector<AnchorSettings> FlatSettingsInterface::GetAnchorList() const {
    return _Rf()->GetAnchors();
}
void FlatSettingsInterface::SetAnchorList(const std::vector<AnchorSettings>& anchors) {
    _Rf()->SetAnchors(anchors);
}
std::vector<MasterSettings> FlatSettingsInterface::GetMasterList() const {
    return _Rf()->GetMasters();
}
void FlatSettingsInterface::SetMasterList(const std::vector<MasterSettings>& masters) {
    _Rf()->SetMasters(masters);
}
std::vector<AlienNodeSettings> FlatSettingsInterface::GetAlienNodeList() const {
    return settings_->GetAlienNodeList();
}

cmd_set_rf_settings_t FlatSettingsInterface::GetRfSettings() const {
    return _Rf()->GetRfSettings();
}
void FlatSettingsInterface::SetRfSettings(const cmd_set_rf_settings_t& rf_settings) {
    _Rf()->SetRfSettings(rf_settings);
}
double FlatSettingsInterface::GetSyncRate() const {
    return _Rf()->GetSyncRate();
}
void FlatSettingsInterface::SetSyncRate(double sync_rate) {
    _Rf()->SetSyncRate(sync_rate);
}

double FlatSettingsInterface::GetVmMinStopThreshold() const {
    return _Host()->GetVmMinStopThreshold();
}
double FlatSettingsInterface::GetVmRejectionThreshold() const {
    return _Host()->GetVmRejectionThreshold();
}
double FlatSettingsInterface::GetVmVectorGain() const {
    return _Host()->GetVmVectorGain();
}
double FlatSettingsInterface::GetMaxTagVelocity() const {
    return _Host()->GetMaxTagVelocity();
}
double FlatSettingsInterface::GetSpeedOfLight() const {
    return _Host()->GetSpeedOfLight();
}
bool FlatSettingsInterface::GetUseRdoaSanityCheck() const {
    return _Host()->GetUseRdoaSanityCheck();
}
bool FlatSettingsInterface::GetUseSmoothedPositionGuess() const {
    return _Host()->GetSmoothPositionGuess();
}
bool FlatSettingsInterface::GetUseOcclusionMitigation() const {
    return _Host()->GetUseOcclusionMitigation();
}

uint32_t FlatSettingsInterface::GetNumberOfActiveWirelessAnchors() const {
    uint32_t count = 0;
    for (const AnchorSettings& anchor : _Rf()->GetAnchors()) {
        if (anchor.GetEnabled() && anchor.GetBackhaulType() != "wired")
            ++count;
    }
    return count;
}

uint32_t FlatSettingsInterface::GetNumberOfActiveTags() const {
    uint32_t count = 0;
    for (const TagSettings& tag : _Rf()->GetTags()) {
        if (tag.GetEnabled())
            ++count;
    }
    return count;
}
