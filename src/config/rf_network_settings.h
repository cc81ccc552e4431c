#pragma once
// The "network" section of the configuration: RF settings, tag sensor payload and the
// configured masters, anchors and tags in file order.

#include <cstdint>
#include <vector>

#include "config/node_settings.h"
#include "protocol/packets/set_mpu_config_packet.h"
#include "protocol/packets/set_rf_settings_packet.h"

class RfNetworkSettings {
  public:
    RfNetworkSettings() = default;

    cmd_set_rf_settings_t GetRfSettings() const { return rf_settings_; }
    void SetRfSettings(const cmd_set_rf_settings_t& rf_settings) { rf_settings_ = rf_settings; }
    sensors_config_t GetTagSensorConfig() const { return tag_sensor_config_; }
    void SetTagSensorConfig(const sensors_config_t& config) { tag_sensor_config_ = config; }
    double GetSyncRate() const { return sync_rate_; }
    void SetSyncRate(double sync_rate) { sync_rate_ = sync_rate; }

    // Kept from the file; nothing computes with them and the writer leaves them out.
    uint32_t GetMinimumPacketDuration() const { return minimum_packet_duration_; }
    void SetMinimumPacketDuration(uint32_t duration) { minimum_packet_duration_ = duration; }
    double GetAnchorPayloadDurationMultiplier() const { return anchor_payload_duration_multiplier_; }
    void SetAnchorPayloadDurationMultiplier(double multiplier) {
        anchor_payload_duration_multiplier_ = multiplier;
    }
    double GetTagPayloadDurationMultiplier() const { return tag_payload_duration_multiplier_; }
    void SetTagPayloadDurationMultiplier(double multiplier) { tag_payload_duration_multiplier_ = multiplier; }
    uint32_t GetPaddingBetweenTagsAndAnchors() const { return padding_between_tags_and_anchors_; }
    void SetPaddingBetweenTagsAndAnchors(uint32_t padding) { padding_between_tags_and_anchors_ = padding; }
    uint32_t GetPaddingBeforeSyncPacket() const { return padding_before_sync_packet_; }
    void SetPaddingBeforeSyncPacket(uint32_t padding) { padding_before_sync_packet_ = padding; }

    std::vector<TagSettings> GetTags() const { return tags_; }
    void SetTags(const std::vector<TagSettings>& tags) { tags_ = tags; }
    void AddTag(const TagSettings& tag) { tags_.push_back(tag); }
    std::vector<AnchorSettings> GetAnchors() const { return anchors_; }
    void SetAnchors(const std::vector<AnchorSettings>& anchors) { anchors_ = anchors; }
    void AddAnchor(const AnchorSettings& anchor) { anchors_.push_back(anchor); }
    std::vector<MasterSettings> GetMasters() const { return masters_; }
    void SetMasters(const std::vector<MasterSettings>& masters) { masters_ = masters; }
    void AddMaster(const MasterSettings& master) { masters_.push_back(master); }

    // Copies the RF settings, the sync rate, the tag sensor configuration and the three
    // node lists; the five stored-only values above are left as they are.
    void CopyFromOtherRfNetworkSettings(RfNetworkSettings* other);

  private:
    // Every load path sets the following values before anything reads them; they start
    // at zero.
    cmd_set_rf_settings_t rf_settings_{};
    sensors_config_t tag_sensor_config_{};
    uint32_t minimum_packet_duration_ = 0;
    double anchor_payload_duration_multiplier_ = 0.0;
    double tag_payload_duration_multiplier_ = 0.0;
    uint32_t padding_between_tags_and_anchors_ = 0;
    uint32_t padding_before_sync_packet_ = 0;
    std::vector<TagSettings> tags_;
    std::vector<AnchorSettings> anchors_;
    std::vector<MasterSettings> masters_;
    double sync_rate_ = 1.0;  // hertz
};
