#include "config/rf_network_settings.h"

void RfNetworkSettings::CopyFromOtherRfNetworkSettings(RfNetworkSettings* other) {
    if (other == nullptr || other == this)
        return;
    rf_settings_ = other->rf_settings_;
    sync_rate_ = other->sync_rate_;
    tag_sensor_config_ = other->tag_sensor_config_;
    tags_ = other->tags_;
    anchors_ = other->anchors_;
    masters_ = other->masters_;
}
