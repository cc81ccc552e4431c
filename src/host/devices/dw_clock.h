#pragma once
// Clock model of one node: maps the node's 40-bit device time onto the
// master's device time along the line through the last two syncs the node
// received (the master's transmit time and this node's receive time of each).

#include <atomic>
#include <cstdint>

struct derazud_pos3_t;

class DwClock {
  public:
    DwClock();

    DwClock(const DwClock&) = delete;
    DwClock& operator=(const DwClock&) = delete;

    // Stores a new sync point and moves the latest one to previous. Returns
    // false, changing nothing, when masterTime and localTime both equal the
    // latest point's: callers run their per-sync work once per sync.
    bool Update(int64_t masterTime, int64_t localTime, double firstPathDb, double totalPathDb);

    // Master device time of a local device time plus the master-distance
    // offset, in 0 .. 2^40 - 1. Differences are taken modulo 2^40, so a time
    // just after the wrap interpolates as if 2^40 were added; times after the
    // latest sync point extrapolate along the same line. Before two sync
    // points with different local times exist there is no line: the result is
    // then the latest master time plus the offset.
    int64_t ToGlobalInterp(int64_t localTime) const;

    // Time of flight from the master, in device ticks, from the distance
    // between the two positions and the configured speed of light.
    void SetMasterDistTickOffset(const derazud_pos3_t& a, const derazud_pos3_t& b);
    int64_t GetMasterDistTickOffset() const { return master_dist_tick_offset_; }

    // Host milliseconds since the last accepted Update (since the epoch when
    // there was none).
    uint64_t LastUpdateAgeMs() const;

    // Powers of the previous (Ra) and latest (Rc) sync receptions, in dB.
    double GetRaFirstPath() const { return previous_first_path_db_.load(std::memory_order_relaxed); }
    double GetRaTotalPath() const { return previous_total_path_db_.load(std::memory_order_relaxed); }
    double GetRcFirstPath() const { return latest_first_path_db_.load(std::memory_order_relaxed); }
    double GetRcTotalPath() const { return latest_total_path_db_.load(std::memory_order_relaxed); }

    // Range difference in metres of two device times, the shorter way round
    // the 40-bit wrap, with the configured speed of light.
    static double rdoa_from_clocks(int64_t a, int64_t b);

    // rdoa_from_clocks with the speed of light (m/s) given.
    static double RangeDifference(int64_t a, int64_t b, double speedOfLight);
    // trunc(6.38976e10 / speedOfLight x metres): the master-distance offset of
    // a distance. A result that is not finite (NaN position, zero speed) gives
    // 0; one beyond int64_t is reduced modulo 2^40.
    static int64_t DistanceToTicks(double metres, double speedOfLight);

  private:
    int64_t previous_master_time_;
    int64_t latest_master_time_;
    int64_t previous_local_time_;
    // The powers and the update time are written on the Internal stream's
    // receiver thread and read by position solves on pool threads without a
    // lock, hence atomics (relaxed: each value stands alone).
    std::atomic<double> previous_first_path_db_;
    std::atomic<double> previous_total_path_db_;
    int64_t latest_local_time_;
    std::atomic<double> latest_first_path_db_;
    std::atomic<double> latest_total_path_db_;
    std::atomic<int64_t> last_update_ms_;
    int64_t master_dist_tick_offset_;
};
