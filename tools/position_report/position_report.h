#pragma once
// Judges the server's published tag positions against the true positions of
// the same transmissions: the device simulator's truth stream carries, per
// tag transmission, the tag's serial number, the network time of its slot and
// where it truly was; the server's position item carries the network time of
// the transmission it solved, within a unit or two of the same value.
//
// Threads: AddTruth and AddPosition are called from the streams' receiver
// threads, the rest from any thread; mutex_ guards everything.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "protocol/vex/vex_data_types.h"

// Errors of one tag's positions, in millimetres.
struct position_error_summary_t {
    uint32_t serial_number;
    // Distinct solved transmissions published (every report republishes the
    // tag's position, also when no new one was solved; those are counted once).
    size_t positions;
    // Those matched to a true position after the skipped first ones.
    size_t matched;
    double horizontal_median_mm;
    double horizontal_rms_mm;
    double spatial_median_mm;
    double spatial_rms_mm;
    // Mean of (solved - true), the part of the error that stays.
    double bias_x_mm;
    double bias_y_mm;
    double bias_z_mm;
};

class PositionReport {
  public:
    // The first `skip` positions of each tag are counted but not judged: the
    // smoothing starts from the tag's initial position.
    explicit PositionReport(size_t skip = 0) : skip_(skip) {}

    // Network time starts again at 0 whenever the master is started, so a
    // position is matched to the most recent transmission of its tag with a
    // network time within kMatchUnits of its own.
    static constexpr int32_t kMatchUnits = 2;

    void AddTruth(uint32_t serial_number, const vex_data_position_t& truth);
    void AddPosition(uint32_t serial_number, const vex_data_position_t& position);

    // One entry per tag that published a position, by serial number.
    std::vector<position_error_summary_t> Summaries() const;
    size_t TotalPositions() const;

  private:
    struct tag_errors_t {
        bool any = false;
        uint32_t last_network_time = 0;
        size_t positions = 0;
        std::vector<double> horizontal_mm;
        std::vector<double> spatial_mm;
        double sum_dx = 0, sum_dy = 0, sum_dz = 0;
    };
    // Truth records kept per tag: ten seconds at 10 Hz, far more than a
    // solve ever lags behind its transmission.
    static constexpr size_t kTruthKept = 100;

    const size_t skip_;
    mutable std::mutex mutex_;
    std::map<uint32_t, std::deque<vex_data_position_t>> truth_;
    std::map<uint32_t, tag_errors_t> tags_;
};

// Median and root mean square of a list; 0 for an empty one.
double MedianOf(std::vector<double> values);
double RmsOf(const std::vector<double>& values);
