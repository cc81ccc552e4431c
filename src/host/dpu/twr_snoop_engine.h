#pragma once
// Two-way ranging overheard in anchor reports. A pair of devices exchanges
// three messages (the initiator sends message 1, the responder message 2, the
// initiator message 3); the anchor reports of both tell when each message was
// sent and received, which gives the pair's distance by asymmetric
// double-sided ranging. Fixed anchors that overhear the same three messages
// ("snoops") give the initiator's distance to them, and from those its
// position around the responder, in two or three dimensions, published as a
// position item on the External stream.
//
// Threads: the engine's own operations take no lock: each runs in the
// caller's thread, and the caller keeps them one at a time. The publisher
// alone is attached and detached from other threads (the host's, as Backlinks
// come and go) and is guarded for that.

#include <QList>
#include <QMap>
#include <QObject>
#include <QVector3D>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "host/dpu/derazud_anchor_report_utils.h"
#include "host/dpu/vex_publisher.h"
#include "protocol/packets/signal_strength.h"
#include "protocol/reports/derazud_anchor_rpt_item.h"
#include "protocol/reports/derazud_usb_anchor_rpt.h"

class NodeManager;

// One snoop's reception of one message.
struct ANCHOR_RX_DATA_T {
    int64_t receive_time;        // device ticks of the snoop
    double first_path_power;     // dB; NaN when the amplitudes give none
    double total_receive_power;  // dB; NaN when the amplitudes give none
};

// One message of an exchange as one device of the pair timed it.
struct SNOOP_DATA_T {
    int64_t timestamp = -1;      // 40-bit device time of that device; -1 none
    uint32_t serial_number = 0;  // the reporting device the timestamp came from
    // True when the timestamp is this device's transmission of the message;
    // the message is then found by it, and the snoops that heard it are here.
    bool transmitted = false;
    // Snoop serial number to its reception, in serial-number order.
    QMap<uint32_t, ANCHOR_RX_DATA_T> listeners;
};

// One device pair.
struct TWR_DATA_T {
    double distance = -1.0;  // metres; -1.0 none
    uint32_t serial_a = 0;   // the device whose position is computed
    int32_t antenna_delay_a = 0;
    uint32_t serial_b = 0;  // the device with a known position around which it is computed
    int32_t antenna_delay_b = 0;
    // Counter of the last report of A or B taken.
    int64_t exchange_counter = -5;
    uint32_t last_reporter = 0;  // 0 none
    int32_t messages = 0;        // complete messages of the exchange, at most 3
    // Parallel lists: index i is the same message in both.
    QList<SNOOP_DATA_T> messages_at_a;
    QList<SNOOP_DATA_T> messages_at_b;
    bool from_network_id_1 = false;  // the last item taken came from network id 1
    bool snoop_pair = false;
};

// What the engine reads of a node in the registry.
struct twr_node_info_t {
    QVector3D position;  // metres
    bool has_antenna_delay = false;
    int32_t antenna_delay = 0;  // device ticks
};

class TwrSnoopEngine : public QObject {
    Q_OBJECT

  public:
    // False when the registry has no such node.
    using NodeLookup = std::function<bool(uint32_t serial, twr_node_info_t* node)>;

    // The three messages of one exchange: indexes into the pair's lists, in
    // the order they were sent, and whether A is the initiator.
    struct Exchange {
        int message[3] = {-1, -1, -1};
        bool a_initiates = false;
    };

    static TwrSnoopEngine* Instance();
    explicit TwrSnoopEngine(QObject* parent = nullptr);
    ~TwrSnoopEngine() override;

    void SetNodeLookup(NodeLookup lookup) { node_lookup_ = std::move(lookup); }
    void SetNetworkIdLookup(NetworkIdLookup lookup) { network_id_lookup_ = std::move(lookup); }
    // Positions go to the publisher's External stream until it is detached;
    // each Backlink attaches its streams to the process's engine. Detach only
    // detaches `expected`, so an old Backlink cannot detach a newer one. Any
    // thread; a publication in flight keeps its own reference.
    void AttachPublisher(std::shared_ptr<VexPublisher> publisher);
    void DetachPublisher(const VexPublisher* expected);
    // Both lookups from the node registry, which the engine then holds: a
    // node is known when the registry has it (not a null node), with its
    // current position and its configured antenna delay.
    void SetNodeManager(std::shared_ptr<const NodeManager> registry);

    // Metres. Until a bound is set, positions are not held to it.
    void SetMaxBounds(QVector3D bounds);
    void SetMinBounds(QVector3D bounds);

    // A pair of a device with itself or with an invalid serial number is
    // ignored. A pair already known in either order is left as it is by
    // AddTwrDevices and becomes a snoop pair by AddTwrSnoopDevices.
    void AddTwrDevices(uint32_t serialA, int delayA, uint32_t serialB, int delayB);
    void AddTwrSnoopDevices(uint32_t serialA, int delayA, uint32_t serialB, int delayB);

    // Takes one device's anchor report. A report of A or B whose counter is
    // the pair's last or the last plus `step` belongs to the current exchange
    // of a pair; any other counter begins a new one. Either way the counter
    // is stored as the pair's last.
    void AddData(const derazud_usb_anchor_rpt_t* report, long counter, uint32_t step);

    // Ranges every plain pair that holds a complete exchange, then locates the
    // initiator of every snoop pair that can be located.
    void RunTwrSnoop(bool threeDimensions);
    void Clear();

    const QList<TWR_DATA_T*>& GetPairs() const { return pairs_; }

    // Supporting operations.
    void UpdateLocationFromBounds(QVector3D& location) const;
    bool GetAnchorPosition(uint32_t serial, QVector3D* position) const;
    // The first master of the process-wide settings' master list, enabled or
    // not; false when the list is empty.
    bool GetMasterPosition(QVector3D* position) const;
    // Metres from the master's configured position to the node's current one;
    // false without a master or without the node.
    bool CalculateMasterToSnoopDistance(uint32_t serial, double* distance) const;
    static double CalculateDistance(QVector3D a, QVector3D b);
    // NaN when N is 0 or the sums are 0: no power can be told then.
    static double CalculateFirstPathDb(const derazud_anchor_rpt_item_t* item);
    static double CalculateTotalPathDb(const derazud_anchor_rpt_item_t* item);
    static double CalculateFirstPathDb(const signal_strength_t& signal);
    static double CalculateTotalPathDb(const signal_strength_t& signal);
    // Total minus first-path power; 60.0 when that is negative or unknown.
    static double GetSignalQualityDiff(ANCHOR_RX_DATA_T reception);
    static void HandleClockRollover(int64_t& t1, int64_t& t2, int64_t& t3);

    void UpdateTWRData(TWR_DATA_T* pair, uint32_t reporter, const derazud_usb_anchor_rpt_t* report,
                       long counter, uint32_t step);
    // A snoop's report adds its receptions to the current exchange of each
    // snoop pair; it neither restarts the exchange nor moves its counter.
    void UpdateSnoopData(uint32_t snoop, const derazud_usb_anchor_rpt_t* report);
    void AddSnoopData(TWR_DATA_T* pair, uint32_t snoop, const derazud_anchor_rpt_item_t& item);

    // The exchange a pair's complete messages hold: the earliest three in a
    // row sent by X, Y, X.
    static bool FindExchange(const TWR_DATA_T* pair, Exchange* exchange);
    static bool CanCalculateTWR(TWR_DATA_T* pair);
    // False, storing nothing, when a time span of the exchange is zero.
    bool CalculateTWR(const TWR_DATA_T* pair, double* distance) const;
    static bool DeviceHasSufficientSnoopsForDistance(const TWR_DATA_T* pair, const Exchange& exchange,
                                                     uint32_t snoop);
    static bool CanCalculate2DTwrSnoop(TWR_DATA_T* pair);
    static bool CanCalculate3DTwrSnoop(TWR_DATA_T* pair);
    // Each returns whether a position was published.
    bool Calculate2DTwrSnoop(TWR_DATA_T* pair);
    bool Calculate3DTwrSnoop(TWR_DATA_T* pair);
    // The initiator's distance to the snoop (metres) from the ranging distance
    // d and the responder-to-snoop distance s; false when a time span is zero.
    bool CalculateSnoopTagDistance(const TWR_DATA_T* pair, const Exchange& exchange, double d, double s,
                                   uint32_t snoop, double* distance) const;

  private:
    TWR_DATA_T* FindPair(uint32_t serialA, uint32_t serialB) const;
    TWR_DATA_T* AddPair(uint32_t serialA, int delayA, uint32_t serialB, int delayB, bool snoopPair);
    double SpeedOfLight() const;
    bool PublishPosition(uint32_t serial, QVector3D position) const;

    // Owned; deleted by Clear and by the destructor.
    QList<TWR_DATA_T*> pairs_;
    QVector3D max_bounds_;
    QVector3D min_bounds_;
    bool has_max_bounds_ = false;
    bool has_min_bounds_ = false;
    NodeLookup node_lookup_;
    NetworkIdLookup network_id_lookup_;
    // Attached and detached from any thread, copied out by the thread that
    // publishes.
    VexPublisherSlot publisher_;
};
