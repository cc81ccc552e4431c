#include "host/devices/dw_node.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "base/device_time.h"
#include "base/saturating_conversion.h"
#include "base/serial_number.h"
#include "base/thread_annotations.h"
#include "config/settings.h"
#include "protocol/packets/device_protocol.h"
#include "protocol/packets/ssp_cmd_exec_sync_cmds_packet.h"
#include "protocol/packets/ssp_cmd_set_rx_passthrough_packet.h"

namespace {

constexpr uint16_t kPositionRecordType = 0x0100;
constexpr uint16_t kPositionRecordLength = 0x0020;
// A wired anchor is told three times to pass its receptions on.
constexpr int kRxPassthroughRepeats = 3;
// Item type of a forwarded ping in the anchor report item queue (a location
// tag report).
constexpr uint8_t kForwardedPingItemType = 21;

int64_t NowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

uint32_t SmoothingFactor() {
    return FlatSettingsInterface(Settings::GlobalSettings()).GetSmoothingFactor();
}

// The positions of the smoothing window averaged: the newest entry and every
// older one back to the first stamped before the cut-off.
struct position_average_t {
    float sum_x;  // metres
    float sum_y;
    float sum_z;
    int64_t marker_sum;
    uint32_t count;
    derazud_pos3_t newest;
};

position_average_t AverageWindow(const std::deque<derazud_pos3_t>& history, uint32_t factor,
                                 uint32_t syncPeriodMs) {
    position_average_t average{};
    average.newest = history.back();
    // The window spans `factor` sync periods back from the newest position
    // (the half rounds the cut-off's truncation).
    const double span = static_cast<double>(factor) * static_cast<double>(syncPeriodMs) + 0.5;
    const int64_t cutoff = TruncateToInt64(static_cast<double>(average.newest.creation_time) - span);
    for (auto entry = history.rbegin(); entry != history.rend(); ++entry) {
        if (entry != history.rbegin() && entry->creation_time < cutoff)
            break;
        average.sum_x += entry->x;
        average.sum_y += entry->y;
        average.sum_z += entry->z;
        // The quality is summed as whole numbers, truncated after each step.
        average.marker_sum =
            TruncateToInt64(static_cast<double>(average.marker_sum) + static_cast<double>(entry->quality));
        ++average.count;
    }
    return average;
}

int32_t AverageMarker(const position_average_t& average) {
    // Signed division: a negative quality must not turn into a huge positive one.
    const int64_t mean = average.marker_sum / static_cast<int64_t>(average.count);
    return static_cast<int32_t>(std::max<int64_t>(
        std::numeric_limits<int32_t>::min(), std::min<int64_t>(std::numeric_limits<int32_t>::max(), mean)));
}

}  // namespace

DwNode::DwNode(std::shared_ptr<NodeSettings> settings, uint16_t networkId, uint32_t syncPeriodMs)
    : settings_(std::move(settings)),
      toa_rpt_{},
      network_id_(networkId),
      configured_position_{},
      last_report_sequence_(0),
      last_sanity_check_time_(0),
      sync_period_ms_(syncPeriodMs),
      last_payload_sequence_(0),
      trickle_state_{},
      vex_packet_(settings_->GetSerialNumber()) {
    TrickleBuffer_InitConsumer(&trickle_state_);
}

DwNode::DwNode(std::shared_ptr<NodeSettings> settings) : DwNode(std::move(settings), 0, 0) {}

DwNode::~DwNode() = default;

uint32_t DwNode::GetSerialNumber() const {
    return settings_->GetSerialNumber();
}

int DwNode::HalfSyncPeriodMs() const {
    const uint32_t half = sync_period_ms_ / 2;
    if (half < 1)
        return 1;
    return half > static_cast<uint32_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                         : static_cast<int>(half);
}

bool DwNode::PrepareToaReport() {
    if (!toa_storage_) {
        toa_storage_.reset(new (std::nothrow) derazud_toa_t[kMaxToaResponses]());
        toa_rpt_.toas = toa_storage_.get();
    }
    return toa_storage_ != nullptr;
}

QPointer<NodeLink> DwNode::GetNodeLink() const {
    std::lock_guard<std::mutex> lock(link_mutex_);
    return node_link_;
}

void DwNode::SetNodeLink(NodeLink* link) {
    std::lock_guard<std::mutex> lock(link_mutex_);
    node_link_ = link;
}

void DwNode::Publish(const uint8_t* data, uint32_t length) {
    // The link copies the bytes and hands them to its own thread. The call is
    // made under the link lock so that once SetNodeLink has replaced the link,
    // no publish through this node is still inside the old one, which may then
    // be shut down and deleted. NodeLink::Publish takes none of the node's
    // locks and never processes events, so holding this one is safe.
    std::lock_guard<std::mutex> lock(link_mutex_);
    if (node_link_)
        node_link_->Publish(data, length);
}

void DwNode::SetupAsWiredBackhaulAnchor(const cmd_set_rf_settings_t& rfSettings) {
    uint8_t message[device_protocol::kSspCmdExecSyncCmdsSize + device_protocol::kCmdSetRfSettingsSize];
    const ssp_cmd_exec_sync_cmds_t head{device_protocol::kSspTypeCommand,
                                        device_protocol::kSspCmdExecSyncCmds,
                                        device_protocol::kCmdSetRfSettingsSize, 1};
    const int head_size = SspCmdExecSyncCmds_ToBuff(message, &head);
    CmdSetRfSettings_ToBuff(message + head_size, &rfSettings);
    Publish(message, sizeof(message));

    uint8_t passthrough[device_protocol::kSspCmdSetRxPassthroughSize];
    const ssp_cmd_set_rx_passthrough_t enable{device_protocol::kSspTypeCommand,
                                              device_protocol::kSspCmdSetRxPassthrough, 1};
    SspCmdSetRxPassthrough_ToBuff(passthrough, &enable);
    for (int i = 0; i < kRxPassthroughRepeats; ++i) {
        if (!GetNodeLink())
            break;
        Publish(passthrough, sizeof(passthrough));
    }
}

void DwNode::SetConfiguredPosition(double x, double y, double z, float kindMarker) {
    derazud_pos3_t position{};
    position.data_tag.type = kPositionRecordType;
    position.data_tag.length = kPositionRecordLength;
    position.serial_number = GetSerialNumber();
    position.x = static_cast<float>(x);
    position.y = static_cast<float>(y);
    position.z = static_cast<float>(z);
    position.quality = kindMarker;
    configured_position_ = position;
}

derazud_pos3_t DwNode::GetCurrentPos3() const {
    if (!has_position_history_.load(std::memory_order_acquire)) {
        return configured_position_;
    }
    // Waits: solver threads hold the lock only to append or average.
    AnnotatedMutexLocker lock(&position_mutex_);
    return position_history_.empty() ? configured_position_ : position_history_.back();
}

void DwNode::SetInitialPos3(const derazud_pos3_t& position) {
    derazud_pos3_t initial{};
    initial.data_tag = position.data_tag;
    initial.serial_number = position.serial_number;
    initial.x = position.x;
    initial.y = position.y;
    initial.z = position.z;
    initial.quality = position.quality;
    configured_position_ = initial;
}

void DwNode::SetCurrentPos3(const derazud_pos3_t& position) {
    // Bounded wait: a solve must not stall behind another for longer than
    // half a sync period; losing one position is harmless.
    AnnotatedMutexTryLocker lock(&position_mutex_, HalfSyncPeriodMs());
    if (!lock.IsLocked()) {
        printf("Could not set current pos3; could not get the list lock!\n");
        fflush(stdout);
        return;
    }
    position_history_.push_back(position);
    has_position_history_.store(true, std::memory_order_release);
    // 64 bits: a factor of 0xFFFFFFFF plus one must not wrap to 0.
    const uint64_t limit =
        std::min<uint64_t>(static_cast<uint64_t>(SmoothingFactor()) + 1, kMaxPositionHistory);
    while (position_history_.size() > limit)
        position_history_.pop_front();
}

vex_data_position_t DwNode::GetSmoothedPositionData() const {
    AnnotatedMutexTryLocker lock(&position_mutex_, HalfSyncPeriodMs());
    if (!lock.IsLocked()) {
        printf("Could not lock the Pos3 List!\n");
        fflush(stdout);
        return _ConvertPos3ToPositionData(configured_position_);
    }
    if (position_history_.empty())
        return _ConvertPos3ToPositionData(configured_position_);
    const uint32_t factor = SmoothingFactor();
    if (factor == 0)
        return _ConvertPos3ToPositionData(position_history_.back());

    const position_average_t average = AverageWindow(position_history_, factor, sync_period_ms_);
    const float count = static_cast<float>(average.count);
    vex_data_position_t data{};
    data.x = TruncateToInt32(average.sum_x * 1000.0f / count);
    data.y = TruncateToInt32(average.sum_y * 1000.0f / count);
    data.z = TruncateToInt32(average.sum_z * 1000.0f / count);
    data.error = AverageMarker(average);
    data.smoothing_count = static_cast<uint16_t>(average.count - 1);
    data.sequence = average.newest.sequence;
    data.network_time = average.newest.network_time;
    return data;
}

derazud_pos3_t DwNode::GetSmoothedPos3() const {
    if (!has_position_history_.load(std::memory_order_acquire)) {
        return configured_position_;
    }
    AnnotatedMutexLocker lock(&position_mutex_);
    if (position_history_.empty())
        return configured_position_;
    const uint32_t factor = SmoothingFactor();
    if (factor == 0)
        return position_history_.back();

    const position_average_t average = AverageWindow(position_history_, factor, sync_period_ms_);
    const float count = static_cast<float>(average.count);
    derazud_pos3_t position{};
    position.data_tag.type = kPositionRecordType;
    position.data_tag.length = kPositionRecordLength;
    position.serial_number = configured_position_.serial_number;
    position.x = average.sum_x / count;
    position.y = average.sum_y / count;
    position.z = average.sum_z / count;
    position.quality = static_cast<float>(AverageMarker(average));
    position.smoothing_count = static_cast<uint16_t>(average.count - 1);
    position.sequence = average.newest.sequence;
    position.network_time = average.newest.network_time;
    position.creation_time = average.newest.creation_time;
    return position;
}

void DwNode::QueueAnchorReportItem(const derazud_anchor_rpt_item_t& item, uint8_t sequence, uint32_t limit,
                                   int64_t timeMs) {
    anchor_report_item_queue_.push_back(anchor_report_item_queue_t{item, sequence, timeMs});
    if (anchor_report_item_queue_.size() > limit) {
        printf("dwnode: Anchor %s discarding an anchor report item...\n",
               SerialNumber_ToString(GetSerialNumber()).c_str());
        fflush(stdout);
        anchor_report_item_queue_.pop_front();
    }
}

void DwNode::QueueUsbBackhaulPing(const vex_data_ping_t& ping, uint32_t limit) {
    // The record is over a kilobyte; build it in place rather than on the stack twice.
    auto item = std::make_unique<derazud_anchor_rpt_item_t>();
    std::memset(item.get(), 0, sizeof(*item));
    item->header.item_type = kForwardedPingItemType;
    item->header.length = 0;
    item->header.receive_time = ping.rx_time & kDeviceTimeMask;
    item->header.signal_strength = ping.signal_strength;
    item->serial_number = ping.serial_number;
    QueueAnchorReportItem(*item, ping.sequence, limit, NowMs());
}

std::shared_ptr<VexPacket> DwNode::TakeOutputPacket() {
    auto packet = std::make_shared<VexPacket>(vex_packet_);
    packet->SetSerialNumber(GetSerialNumber());
    vex_packet_.ClearDataItems();
    return packet;
}

std::shared_ptr<VexPacket> DwNode::GetVexPacket() {
    AnnotatedMutexLocker lock(&packet_mutex_);
    return TakeOutputPacket();
}

vex_data_position_t DwNode::_ConvertPos3ToPositionData(const derazud_pos3_t& position) {
    vex_data_position_t data{};
    // Float arithmetic, as the averaged positions are computed: 0.7f metres
    // gives 700 mm, not the 699 a double product would truncate to.
    data.x = TruncateToInt32(position.x * 1000.0f);
    data.y = TruncateToInt32(position.y * 1000.0f);
    data.z = TruncateToInt32(position.z * 1000.0f);
    data.error = TruncateToInt32(position.quality);
    data.smoothing_count = position.smoothing_count;
    data.sequence = position.sequence;
    data.network_time = position.network_time;
    return data;
}

uint32_t DwNode::_GetCorrectedGnt(uint16_t partial, uint32_t now) {
    return VexData_SensorSampleTime(partial, now);
}

DwMaster::DwMaster(const MasterSettings& settings, uint16_t networkId, uint32_t syncPeriodMs)
    : DwMaster(std::make_shared<MasterSettings>(settings), networkId, syncPeriodMs) {}

DwMaster::DwMaster(std::shared_ptr<MasterSettings> settings, uint16_t networkId, uint32_t syncPeriodMs)
    : DwNode(settings, networkId, syncPeriodMs), master_settings_(std::move(settings)) {
    SetConfiguredPosition(GetX(), GetY(), GetZ(), kMasterPositionMarker);
}

DwAnchor::DwAnchor(const AnchorSettings& settings, uint16_t networkId, uint32_t syncPeriodMs)
    : DwAnchor(std::make_shared<AnchorSettings>(settings), networkId, syncPeriodMs) {}

DwAnchor::DwAnchor(std::shared_ptr<AnchorSettings> settings, uint16_t networkId, uint32_t syncPeriodMs)
    : DwNode(settings, networkId, syncPeriodMs), anchor_settings_(std::move(settings)) {
    SetConfiguredPosition(GetX(), GetY(), GetZ(), kAnchorPositionMarker);
}

DwTag::DwTag() : DwNode(std::make_shared<TagSettings>()) {
    SetInitialPosition(0.0, 0.0, 0.0);
}

DwTag::DwTag(const TagSettings& settings, uint16_t networkId, uint32_t syncPeriodMs)
    : DwNode(std::make_shared<TagSettings>(settings), networkId, syncPeriodMs) {
    SetInitialPosition(0.0, 0.0, 0.0);
}

void DwTag::SetInitialPosition(double x, double y, double z) {
    x_.store(x, std::memory_order_relaxed);
    y_.store(y, std::memory_order_relaxed);
    z_.store(z, std::memory_order_relaxed);
    SetConfiguredPosition(x, y, z, kTagPositionMarker);
}

namespace {

std::shared_ptr<NodeSettings> NullNodeSettings(uint32_t serialNumber) {
    auto settings = std::make_shared<TagSettings>();
    settings->SetSerialNumber(serialNumber);
    settings->SetEnabled(false);
    return settings;
}

}  // namespace

DwNullNode::DwNullNode(uint32_t serialNumber) : DwNode(NullNodeSettings(serialNumber)) {
    SetNetworkId(kNullNodeNetworkId);
}

DwAlienNode::DwAlienNode(const AlienNodeSettings& settings)
    : DwAlienNode(std::make_shared<AlienNodeSettings>(settings)) {}

DwAlienNode::DwAlienNode(std::shared_ptr<AlienNodeSettings> settings)
    : DwNode(settings), alien_settings_(std::move(settings)) {
    SetNetworkId(kAlienNodeNetworkId);
}
