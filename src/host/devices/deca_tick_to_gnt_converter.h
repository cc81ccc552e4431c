#pragma once
// Maps the master's 40-bit device time onto network time by a straight line
// through the (master tick, network time) pairs of the last two syncs. The
// ratio of the two clocks is measured anew at every sync, never assumed.

#include <QMutex>
#include <cstdint>

class DecaTickToGntConverter {
  public:
    DecaTickToGntConverter();

    DecaTickToGntConverter(const DecaTickToGntConverter&) = delete;
    DecaTickToGntConverter& operator=(const DecaTickToGntConverter&) = delete;

    // The latest pair becomes the previous one and the new pair the latest.
    void Update(int64_t masterTicks, uint32_t networkTime);

    // Network time of a master device time, interpolated or extrapolated and
    // rounded to a whole unit; callers use the low 32 bits. A time more than
    // 2^39 ticks from the previous sync is taken across the 40-bit wrap.
    int64_t DecaTicksToGnt(int64_t masterTicks) const;

  private:
    // The pairs are stored as the masterTicks value converted to 64 unsigned
    // bits; only differences modulo 2^40 of them are used.
    uint32_t previous_network_time_;
    uint64_t previous_master_ticks_;
    uint32_t latest_network_time_;
    uint64_t latest_master_ticks_;
    // Guards the four values above: Update runs on the Internal stream's
    // receiver thread, DecaTicksToGnt on that thread and on the solve pool's
    // threads. Only the copy is done under it; the arithmetic runs outside.
    mutable QMutex mutex_;
};
