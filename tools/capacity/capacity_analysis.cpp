#include "capacity/capacity_analysis.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerS = 1000000000;
// A position's network time is that of the solved transmission within a unit or two.
constexpr uint32_t kNetworkTimeSlack = 3;
// How long an observation waits for its transmission and the sync after it.
constexpr int64_t kPendingNs = 3 * kNsPerS;
// Transmissions and syncs older than this are forgotten.
constexpr int64_t kHistoryNs = 10 * kNsPerS;
// Transmissions of the window's last second may still be on their way.
constexpr int64_t kTailNs = kNsPerS;

}  // namespace

double CapacitySamples::Quantile(double q) {
    if (values_.empty())
        return 0.0;
    if (!sorted_) {
        std::sort(values_.begin(), values_.end());
        sorted_ = true;
    }
    const double rank = std::ceil(q * static_cast<double>(values_.size()));
    const size_t index = rank < 1.0 ? 0 : std::min(values_.size() - 1, static_cast<size_t>(rank) - 1);
    return values_[index];
}

double CapacitySamples::Max() {
    return Quantile(1.0);
}

double CapacitySamples::Mean() const {
    if (values_.empty())
        return 0.0;
    return std::accumulate(values_.begin(), values_.end(), 0.0) / static_cast<double>(values_.size());
}

CapacityAnalysis::CapacityAnalysis(int anchors, std::set<uint32_t> static_tags)
    : anchors_(anchors), static_tags_(std::move(static_tags)) {}

void CapacityAnalysis::AddTruth(const std::vector<sim_truth_t>& truth) {
    int64_t latest = 0;
    for (const sim_truth_t& record : truth) {
        if (record.forwarded_ns == 0)
            continue;  // no wired device heard it: the server cannot know of it
        transmissions_[record.serial_number][record.network_time] = transmission_t{record, false};
        if (window_start_ns_ >= 0 && record.forwarded_ns >= window_start_ns_)
            window_sent_ns_.push_back(record.forwarded_ns);
        latest = std::max(latest, record.forwarded_ns);
    }
    if (latest > 0)
        Forget(latest - kHistoryNs);
}

void CapacityAnalysis::AddSyncStamps(const std::vector<sim_sync_stamp_t>& stamps) {
    for (const sim_sync_stamp_t& stamp : stamps) {
        if (stamp.forwarded_ns != 0)
            stamps_.push_back(stamp);
    }
}

void CapacityAnalysis::AddObservations(const std::vector<capacity_observation_t>& observations) {
    for (const capacity_observation_t& observation : observations) {
        if (window_start_ns_ >= 0 && observation.arrival_ns >= window_start_ns_) {
            window_.reports++;
            if (observation.solved)
                window_.solved_reports++;
            window_.used_anchors.Add(observation.used_anchors);
            if (observation.used_anchors < anchors_)
                window_.short_reports++;
            window_.removed_responses += static_cast<uint64_t>(observation.removed_anchors);
        }
        pending_.push_back(observation);
    }
    const int64_t newest = pending_.empty() ? 0 : pending_.back().arrival_ns;
    std::deque<capacity_observation_t> waiting;
    for (const capacity_observation_t& observation : pending_) {
        if (Match(observation))
            continue;
        if (newest - observation.arrival_ns < kPendingNs) {
            waiting.push_back(observation);
        } else if (window_start_ns_ >= 0 && observation.arrival_ns >= window_start_ns_) {
            window_.unmatched_packets++;
        }
    }
    pending_.swap(waiting);
}

bool CapacityAnalysis::Match(const capacity_observation_t& observation) {
    const auto tag = transmissions_.find(observation.serial_number);
    if (tag == transmissions_.end())
        return false;
    const uint32_t low =
        observation.network_time >= kNetworkTimeSlack ? observation.network_time - kNetworkTimeSlack : 0;
    auto found = tag->second.lower_bound(low);
    if (found == tag->second.end() || found->first > observation.network_time + kNetworkTimeSlack)
        return false;
    transmission_t& transmission = found->second;
    const bool in_window = window_start_ns_ >= 0 && observation.arrival_ns >= window_start_ns_;
    if (transmission.positioned) {
        // The previous position again: the solve of this report was refused.
        if (in_window)
            window_.unmatched_packets++;
        return true;
    }
    const int64_t complete_ns = CompletionNs(transmission.truth);
    if (complete_ns == 0)
        return false;
    transmission.positioned = true;
    positioned_tags_.insert(observation.serial_number);
    fresh_total_++;
    if (window_start_ns_ >= 0 && transmission.truth.forwarded_ns >= window_start_ns_)
        window_positioned_ns_.push_back(transmission.truth.forwarded_ns);
    if (!in_window)
        return true;
    window_.fresh_positions++;
    window_.latency_complete_ms.Add(static_cast<double>(observation.arrival_ns - complete_ns) / kNsPerMs);
    window_.latency_transmission_ms.Add(
        static_cast<double>(observation.arrival_ns - transmission.truth.forwarded_ns) / kNsPerMs);
    const Coordinates& truth = transmission.truth.position;
    const double dx = observation.position.GetX() - truth.GetX();
    const double dy = observation.position.GetY() - truth.GetY();
    const double dz = observation.position.GetZ() - truth.GetZ();
    const bool standing = static_tags_.count(observation.serial_number) != 0;
    (standing ? window_.error_static_m : window_.error_moving_m).Add(std::sqrt(dx * dx + dy * dy + dz * dz));
    (standing ? window_.error_static_xy_m : window_.error_moving_xy_m).Add(std::hypot(dx, dy));
    return true;
}

int64_t CapacityAnalysis::CompletionNs(const sim_truth_t& truth) const {
    const auto after = std::upper_bound(
        stamps_.begin(), stamps_.end(), truth.forwarded_ns,
        [](int64_t sent, const sim_sync_stamp_t& stamp) { return sent < stamp.forwarded_ns; });
    return after == stamps_.end() ? 0 : after->forwarded_ns;
}

void CapacityAnalysis::Forget(int64_t before_ns) {
    for (auto& tag : transmissions_) {
        auto& by_time = tag.second;
        for (auto it = by_time.begin(); it != by_time.end();) {
            if (it->second.truth.forwarded_ns < before_ns)
                it = by_time.erase(it);
            else
                ++it;
        }
    }
    while (!stamps_.empty() && stamps_.front().forwarded_ns < before_ns)
        stamps_.pop_front();
}

void CapacityAnalysis::StartWindow(int64_t start_ns) {
    window_start_ns_ = start_ns;
    window_ = capacity_figures_t();
    window_sent_ns_.clear();
    window_positioned_ns_.clear();
}

capacity_figures_t CapacityAnalysis::Figures(int64_t end_ns) {
    capacity_figures_t figures = window_;
    figures.duration_s =
        window_start_ns_ >= 0 ? static_cast<double>(end_ns - window_start_ns_) / kNsPerS : 0.0;
    const int64_t cutoff = end_ns - kTailNs;
    figures.transmissions = static_cast<uint64_t>(
        std::count_if(window_sent_ns_.begin(), window_sent_ns_.end(), [&](int64_t t) { return t < cutoff; }));
    figures.transmissions_positioned = static_cast<uint64_t>(std::count_if(
        window_positioned_ns_.begin(), window_positioned_ns_.end(), [&](int64_t t) { return t < cutoff; }));
    return figures;
}
