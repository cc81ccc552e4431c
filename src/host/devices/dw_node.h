#pragma once
// The server's object for one device: its settings and network id, the link
// it is reached through, its clock model, its configured position and the
// history of solved positions, the reports a wireless anchor forwarded, the
// time-of-arrival report being assembled and the output packet its data items
// are gathered in. Nodes are made by the node registry and always held by
// shared pointers.
//
// Threads and locks:
// - The position lock guards the position history. Solver threads of the
//   global thread pool store positions and read the smoothed position item
//   (try-lock of half the sync period); the current and smoothed position
//   records are read with a waiting lock (solver threads, and the report
//   check on the receiver thread for the tag's guess and its anchors).
// - The report lock guards the time-of-arrival report, its storage, the last
//   report sequence and the last sanity-check time; taken (2 ms try-lock) on
//   the Internal stream's receiver thread.
// - The packet lock guards the output packet, the last payload sequence and
//   the trickle state; waited for by GetVexPacket (solver threads) and when an
//   anchor status item is added, tried for half the sync period by
//   UpdatePayload (receiver thread).
// - The report lock is always taken before the packet lock, never the other
//   way round.
// - The anchor report item queue has no lock: it is filled and drained on the
//   Internal stream's receiver thread only.
// - The link pointer has a small lock of its own: the location engine sets it
//   while other threads publish through it.
// - Settings, sync period and the kind never change after construction; the
//   network id is set by the registry before the node is shared and is atomic
//   all the same.

#include <QMutex>
#include <QPointer>
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/geometry.h"
#include "config/alien_node_settings.h"
#include "config/flat_settings_interface.h"
#include "config/node_settings.h"
#include "host/devices/dw_clock.h"
#include "host/devices/node_link.h"
#include "host/devices/toa_report_receiver.h"
#include "protocol/packets/set_rf_settings_packet.h"
#include "protocol/reports/derazud_anchor_rpt_item.h"
#include "protocol/reports/derazud_pos3.h"
#include "protocol/reports/derazud_toa.h"
#include "protocol/reports/derazud_toa_rpt.h"
#include "protocol/trickle/trickle_buffer_consumer.h"
#include "protocol/vex/vex_data_types.h"
#include "protocol/vex/vex_packet.h"

class DwNode;

// Serial number to node, as the registry holds its anchors, tags and masters.
using DwNodeMap = std::map<uint32_t, std::shared_ptr<DwNode>>;

// One report a wireless anchor forwarded, waiting for the anchor's next sync.
struct anchor_report_item_queue_t {
    derazud_anchor_rpt_item_t item;
    uint8_t sequence;
    int64_t reception_time;  // ms since the epoch
};

class DwNode {
  public:
    // Responses one time-of-arrival report holds at most.
    static constexpr int kMaxToaResponses = 512;
    // Try-lock time of the report lock.
    static constexpr int kReportLockTimeoutMs = 2;
    // The position history holds the smoothing factor plus one entries, but
    // never more than this: a huge factor (the map window sends any u32)
    // must not let the history grow without bound. At the usual sync rates
    // this is minutes of positions, more than any useful smoothing window.
    static constexpr uint64_t kMaxPositionHistory = 1024;
    // Network id of a node the registry does not know.
    static constexpr uint16_t kNullNodeNetworkId = 0x7FFF;
    // Network id of a node of a foreign network.
    static constexpr uint16_t kAlienNodeNetworkId = 0x07FE;
    // Kind markers in the quality field of a configured position.
    static constexpr float kMasterPositionMarker = -2.0f;
    static constexpr float kAnchorPositionMarker = -4.0f;
    static constexpr float kTagPositionMarker = -1.0f;

    virtual ~DwNode();
    DwNode(const DwNode&) = delete;
    DwNode& operator=(const DwNode&) = delete;

    virtual uint32_t GetSerialNumber() const;
    virtual bool IsMasterNode() const { return false; }
    virtual bool IsAnchorNode() const { return false; }
    virtual bool IsTagNode() const { return false; }
    virtual bool IsNullNode() const { return false; }
    virtual bool IsAlienNode() const { return false; }
    // Metres.
    virtual double GetX() const = 0;
    virtual double GetY() const = 0;
    virtual double GetZ() const = 0;

    uint16_t GetNetworkId() const { return network_id_.load(std::memory_order_relaxed); }
    void SetNetworkId(uint16_t networkId) { network_id_.store(networkId, std::memory_order_relaxed); }
    uint32_t GetAntennaDelay() const { return settings_->GetAntennaDelay(); }
    bool IsEnabled() const { return settings_->GetEnabled(); }
    uint32_t GetSyncPeriodMs() const { return sync_period_ms_; }
    DwClock& GetClock() { return clock_; }

    // Empty when unset or when the link object is gone.
    QPointer<NodeLink> GetNodeLink() const;
    // A null pointer empties it. Once it returns, no Publish through this node
    // is still inside the link it replaced, which may then be shut down.
    void SetNodeLink(NodeLink* link);
    // Sends the bytes through the link when it is set and alive; else nothing.
    void Publish(const uint8_t* data, uint32_t length);

    // Tells a wired-backhaul anchor its RF settings (one exec-sync-commands
    // message carrying the set-RF-settings command) and to pass received
    // packets on (three times, stopping early when the link is gone).
    void SetupAsWiredBackhaulAnchor(const cmd_set_rf_settings_t& rfSettings);

    // The newest solved position, or the configured position before any.
    derazud_pos3_t GetCurrentPos3() const;
    // Takes the first 24 bytes of the record (data tag, serial number, x, y,
    // z, kind marker) as the configured position and clears the rest. Only
    // before the node is shared.
    void SetInitialPos3(const derazud_pos3_t& position);
    // Appends a solved position; dropped with a message when the position lock
    // cannot be had within half the sync period.
    void SetCurrentPos3(const derazud_pos3_t& position);
    // The position item published for a tag: the positions of the smoothing
    // window averaged, in millimetres.
    vex_data_position_t GetSmoothedPositionData() const;
    // The same average as a position record in metres; waits for the lock.
    derazud_pos3_t GetSmoothedPos3() const;

    std::deque<anchor_report_item_queue_t>& GetAnchorReportItemQueue() { return anchor_report_item_queue_; }
    // Appends the item; beyond `limit` entries the oldest one is dropped.
    void QueueAnchorReportItem(const derazud_anchor_rpt_item_t& item, uint8_t sequence, uint32_t limit,
                               int64_t timeMs);
    // Queues a tag ping a wireless anchor forwarded as an anchor report item.
    void QueueUsbBackhaulPing(const vex_data_ping_t& ping, uint32_t limit);

    // A copy of the output packet stamped with the node's serial number; the
    // node's packet is emptied.
    std::shared_ptr<VexPacket> GetVexPacket();

    // Time-of-arrival report assembly (dw_node_report.cpp). `anchors` is a
    // copy of the registry's anchor map; the location engine passes as
    // expectedCount the anchor count plus the wireless anchor count times the
    // wired anchor count.
    void ProcessReportResponse(ToaReportReceiver* dpu, uint32_t sequence, int16_t anchorNetworkId,
                               int64_t anchorSerialNumber, int64_t toa, const DwNodeMap& anchors,
                               double firstPathPower, double totalPower, uint32_t expectedCount);
    // Removes unknown, repeated and implausible anchors from the report in
    // hand. Called with the report lock held.
    void SanityCheckToaRpt(const DwNodeMap& anchors, FlatSettingsInterface& settings);

    // The sensor items of a ping's trickled user data (the dataLength bytes at
    // userData, which follow the 28-byte ping record in the ping item).
    // Returns the node's gathered items when the ping completed sensor data,
    // else an empty pointer.
    std::shared_ptr<VexPacket> UpdatePayload(const vex_data_ping_t* ping, const uint8_t* userData,
                                             uint16_t dataLength, uint32_t now);

  protected:
    DwNode(std::shared_ptr<NodeSettings> settings, uint16_t networkId, uint32_t syncPeriodMs);
    // Null and alien nodes: no network id and no sync period.
    explicit DwNode(std::shared_ptr<NodeSettings> settings);

    // Sets the configured position to the kind's record: data tag 0x0100 /
    // 0x0020, the node's serial number, x, y, z and the kind marker.
    void SetConfiguredPosition(double x, double y, double z, float kindMarker);

  private:
    friend class DwNodeTestPeer;

    // Time-out of the position and packet try-locks: half the sync period,
    // rounded down, at least 1 ms.
    int HalfSyncPeriodMs() const;
    // Allocates the report's response array on first use, so that nodes that
    // never assemble a report (null nodes made by every failed lookup, alien
    // nodes) do not carry it. Call with the report lock held; false when the
    // allocation failed.
    bool PrepareToaReport();
    // A copy of the output packet stamped with the node's serial number, the
    // node's packet emptied. Call with the packet lock held.
    std::shared_ptr<VexPacket> TakeOutputPacket();

    // x, y, z times 1000 and the kind marker truncated to i32 (saturating,
    // NaN 0); smoothing count, sequence and network time copied.
    static vex_data_position_t _ConvertPos3ToPositionData(const derazud_pos3_t& position);
    // Widens a 16-bit partial network time (bits 8-23) with the current one.
    static uint32_t _GetCorrectedGnt(uint16_t partial, uint32_t now);

    void _PublishToaRpt(ToaReportReceiver* dpu);
    void _AddAnchorStatus(uint16_t index, uint8_t code);
    void _RemoveResponseFromToaRpt_NoStatusMsg(uint16_t index, Coordinates* positions);
    void _HandleSensorData(const uint8_t* bytes, uint16_t length, uint32_t now);
    bool _ProcessSensorDataPacket(const uint8_t* bytes, int& offset, int& remaining, uint32_t now);

    // The kind's settings (MasterSettings, AnchorSettings, TagSettings,
    // AlienNodeSettings), a copy owned by the node.
    const std::shared_ptr<NodeSettings> settings_;
    // Guarded by report_mutex_. Its toas point into toa_storage_ once
    // PrepareToaReport ran (never freed through DerAzudToaRpt_Cleanup).
    derazud_toa_rpt_t toa_rpt_;
    std::unique_ptr<derazud_toa_t[]> toa_storage_;
    std::atomic<uint16_t> network_id_;
    // Guarded by link_mutex_.
    QPointer<NodeLink> node_link_;
    mutable std::mutex link_mutex_;
    DwClock clock_;
    // Written only before the node is shared (construction, the registry's
    // Init); read by any thread, also when the position lock is busy.
    derazud_pos3_t configured_position_;
    // These three guarded by report_mutex_.
    uint32_t last_report_sequence_;
    // False until the first report begins: any sequence may begin it then.
    bool toa_report_started_ = false;
    // Milliseconds of the monotonic clock (a wall clock set back would block
    // the tag); 0 before the first good check.
    int64_t last_sanity_check_time_;
    mutable QMutex position_mutex_;
    // Newest last. Guarded by position_mutex_.
    std::deque<derazud_pos3_t> position_history_;
    // Set, never cleared, with the first position stored. Until then the
    // position reads return the configured position without the lock: the
    // anchors are never positioned, and every solve and every report check
    // reads all of them, from several threads at once.
    std::atomic<bool> has_position_history_{false};
    mutable QMutex report_mutex_;
    // Receiver thread only.
    std::deque<anchor_report_item_queue_t> anchor_report_item_queue_;
    mutable QMutex packet_mutex_;
    const uint32_t sync_period_ms_;
    // These four guarded by packet_mutex_.
    uint8_t last_payload_sequence_;
    // False until the first ping's user data: any sequence is new then.
    bool payload_sequence_seen_ = false;
    trickle_buffer_consumer_t trickle_state_;
    VexPacket vex_packet_;
};

class DwMaster final : public DwNode {
  public:
    DwMaster(const MasterSettings& settings, uint16_t networkId, uint32_t syncPeriodMs);

    bool IsMasterNode() const override { return true; }
    double GetX() const override { return master_settings_->GetX(); }
    double GetY() const override { return master_settings_->GetY(); }
    double GetZ() const override { return master_settings_->GetZ(); }

  private:
    DwMaster(std::shared_ptr<MasterSettings> settings, uint16_t networkId, uint32_t syncPeriodMs);
    const std::shared_ptr<MasterSettings> master_settings_;
};

class DwAnchor final : public DwNode {
  public:
    DwAnchor(const AnchorSettings& settings, uint16_t networkId, uint32_t syncPeriodMs);

    bool IsAnchorNode() const override { return true; }
    double GetX() const override { return anchor_settings_->GetX(); }
    double GetY() const override { return anchor_settings_->GetY(); }
    double GetZ() const override { return anchor_settings_->GetZ(); }

    std::string GetBackhaulType() const { return anchor_settings_->GetBackhaulType(); }
    bool IsWireless() const { return anchor_settings_->IsWireless(); }

  private:
    DwAnchor(std::shared_ptr<AnchorSettings> settings, uint16_t networkId, uint32_t syncPeriodMs);
    const std::shared_ptr<AnchorSettings> anchor_settings_;
};

// A tag's own x, y, z are its initial position (the registry's centroid).
class DwTag final : public DwNode {
  public:
    // Default TagSettings, no network id, no sync period.
    DwTag();
    DwTag(const TagSettings& settings, uint16_t networkId, uint32_t syncPeriodMs);

    bool IsTagNode() const override { return true; }
    double GetX() const override { return x_.load(std::memory_order_relaxed); }
    double GetY() const override { return y_.load(std::memory_order_relaxed); }
    double GetZ() const override { return z_.load(std::memory_order_relaxed); }

    // Metres; sets the configured position with the tag's kind marker. Only
    // before the node is shared.
    void SetInitialPosition(double x, double y, double z);

  private:
    std::atomic<double> x_{0.0};
    std::atomic<double> y_{0.0};
    std::atomic<double> z_{0.0};
};

// What a failed lookup returns: disabled default tag settings carrying the
// serial number asked for, network id 0x7FFF.
class DwNullNode final : public DwNode {
  public:
    explicit DwNullNode(uint32_t serialNumber);

    bool IsNullNode() const override { return true; }
    double GetX() const override { return 0.0; }
    double GetY() const override { return 0.0; }
    double GetZ() const override { return 0.0; }
};

// A device of a foreign network; the registry gives it network id 0x07FE.
class DwAlienNode final : public DwNode {
  public:
    explicit DwAlienNode(const AlienNodeSettings& settings);

    bool IsAlienNode() const override { return true; }
    double GetX() const override { return 0.0; }
    double GetY() const override { return 0.0; }
    double GetZ() const override { return 0.0; }

    cmd_set_rf_settings_t GetRfSettings() const { return alien_settings_->GetRfSettings(); }

  private:
    explicit DwAlienNode(std::shared_ptr<AlienNodeSettings> settings);
    const std::shared_ptr<AlienNodeSettings> alien_settings_;
};
