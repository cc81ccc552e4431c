#pragma once
// Judges what the server published against what the simulator did: each tag
// transmission is matched with the position packet the server published for
// it (by tag serial number and network time), and the figures of a
// measurement window are gathered: reports and positions per second, the
// share of transmissions that got their position, the latency from the last
// device datagram the report needed to the position's arrival, and the
// position error against the truth.
//
// Plain data and one class used by one thread (the measuring tool's main
// thread); the times are CLOCK_MONOTONIC nanoseconds of this machine.
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <vector>

#include "base/geometry.h"
#include "simulator/device_simulator.h"

// One packet of the External stream that ends with a tag's position.
struct capacity_observation_t {
    uint32_t serial_number = 0;
    int64_t arrival_ns = 0;
    Coordinates position;  // metres
    uint32_t network_time = 0;
    int used_anchors = 0;     // anchor status items with status "used"
    int removed_anchors = 0;  // anchor status items of removed responses
    bool solved = false;      // the solve ran (a solution diagnostic is present)
};

// Sorted samples and their quantiles (nearest rank); 0 when empty.
class CapacitySamples {
  public:
    void Add(double value) {
        values_.push_back(value);
        sorted_ = false;
    }
    size_t Count() const { return values_.size(); }
    double Quantile(double q);
    double Max();
    double Mean() const;

  private:
    std::vector<double> values_;
    bool sorted_ = true;
};

struct capacity_figures_t {
    double duration_s = 0.0;
    uint64_t transmissions = 0;  // by admitted tags, sent in the window but its last second
    uint64_t transmissions_positioned = 0;
    uint64_t reports = 0;  // position packets that arrived in the window
    uint64_t solved_reports = 0;
    uint64_t fresh_positions = 0;  // packets whose position is new: matched to a transmission
    uint64_t short_reports = 0;    // reports with fewer responses used than there are anchors
    uint64_t removed_responses = 0;
    uint64_t unmatched_packets = 0;  // repeats of an earlier position, or no transmission found
    CapacitySamples used_anchors;
    CapacitySamples latency_complete_ms;      // last datagram the report needed -> position arrival
    CapacitySamples latency_transmission_ms;  // the transmission's own forwarding -> arrival
    CapacitySamples error_moving_m;
    CapacitySamples error_static_m;
    CapacitySamples error_moving_xy_m;
    CapacitySamples error_static_xy_m;
};

class CapacityAnalysis {
  public:
    // `anchors`: the responses a complete report holds. `static_tags`: the
    // tags that stand still (their errors are kept apart).
    CapacityAnalysis(int anchors, std::set<uint32_t> static_tags);

    void AddTruth(const std::vector<sim_truth_t>& truth);
    void AddSyncStamps(const std::vector<sim_sync_stamp_t>& stamps);
    // Observations are matched as soon as their transmission and the sync
    // after it are known, else kept for up to 3 s of arrivals.
    void AddObservations(const std::vector<capacity_observation_t>& observations);

    // The figures from `start_ns` on: transmissions sent in [start, end - 1 s)
    // and packets that arrived in [start, end).
    void StartWindow(int64_t start_ns);
    capacity_figures_t Figures(int64_t end_ns);

    // Tags that had a fresh position since the start (warm-up).
    size_t TagsPositioned() const { return positioned_tags_.size(); }
    uint64_t FreshPositionsTotal() const { return fresh_total_; }

  private:
    struct transmission_t {
        sim_truth_t truth;
        bool positioned = false;
    };
    bool Match(const capacity_observation_t& observation);
    // The last device datagram the transmission's report needed: the first
    // sync forwarded after the transmission was. 0 when not known yet.
    int64_t CompletionNs(const sim_truth_t& truth) const;
    void Forget(int64_t before_ns);

    const int anchors_;
    const std::set<uint32_t> static_tags_;
    // Per tag: its transmissions by network time.
    std::map<uint32_t, std::map<uint32_t, transmission_t>> transmissions_;
    std::deque<sim_sync_stamp_t> stamps_;  // in forwarding order
    std::deque<capacity_observation_t> pending_;
    std::set<uint32_t> positioned_tags_;
    uint64_t fresh_total_ = 0;
    int64_t window_start_ns_ = -1;
    capacity_figures_t window_;
    // Forwarding times of the window's transmissions, and of those positioned.
    std::vector<int64_t> window_sent_ns_;
    std::vector<int64_t> window_positioned_ns_;
};
