#include "host/devices/dw_clock.h"

#include <QDateTime>
#include <cmath>

#include "base/device_time.h"

#include "config/flat_settings_interface.h"
#include "config/settings.h"
#include "base/geometry.h"
#include "protocol/reports/derazud_pos3.h"

namespace {

// Doubles of smaller magnitude convert to int64_t with room to spare.
constexpr double kSafeInt64Magnitude = 4611686018427387904.0;  // 2^62

uint64_t AsUnsigned(int64_t value) {
    return static_cast<uint64_t>(value);
}

// A whole-tick double reduced into 0 .. 2^40 - 1. Scaling by a power of two,
// floor, and the subtraction of two nearby multiples of the value's spacing
// are all exact, so this equals the mathematical remainder (and is much
// cheaper than fmod for large values).
double ReduceModuloWrap(double whole_ticks) {
    const double wrap = static_cast<double>(kDeviceTimeWrap);
    return whole_ticks - std::floor(whole_ticks / wrap) * wrap;
}

// Whole-tick double to a device time modulo 2^40. The reduction keeps
// out-of-range values defined (a plain conversion beyond int64_t would not be)
// and leaves the low 40 bits of in-range values as they are.
uint64_t WholeTicksModuloWrap(double whole_ticks) {
    if (std::fabs(whole_ticks) < kSafeInt64Magnitude)
        return AsUnsigned(static_cast<int64_t>(whole_ticks)) & kDeviceTimeMask;
    return static_cast<uint64_t>(ReduceModuloWrap(whole_ticks));
}

}  // namespace

DwClock::DwClock()
    : previous_master_time_(0),
      latest_master_time_(0),
      previous_local_time_(0),
      previous_first_path_db_(0.0),
      previous_total_path_db_(0.0),
      latest_local_time_(0),
      latest_first_path_db_(0.0),
      latest_total_path_db_(0.0),
      last_update_ms_(0),
      master_dist_tick_offset_(0) {}

bool DwClock::Update(int64_t masterTime, int64_t localTime, double firstPathDb, double totalPathDb) {
    if (masterTime == latest_master_time_ && localTime == latest_local_time_)
        return false;
    previous_master_time_ = latest_master_time_;
    previous_local_time_ = latest_local_time_;
    previous_first_path_db_.store(latest_first_path_db_.load(std::memory_order_relaxed),
                                  std::memory_order_relaxed);
    previous_total_path_db_.store(latest_total_path_db_.load(std::memory_order_relaxed),
                                  std::memory_order_relaxed);
    latest_master_time_ = masterTime;
    latest_local_time_ = localTime;
    latest_first_path_db_.store(firstPathDb, std::memory_order_relaxed);
    latest_total_path_db_.store(totalPathDb, std::memory_order_relaxed);
    last_update_ms_.store(QDateTime::currentMSecsSinceEpoch(), std::memory_order_relaxed);
    return true;
}

int64_t DwClock::ToGlobalInterp(int64_t localTime) const {
    // Unsigned subtraction and the 40-bit mask give each difference in
    // 0 .. 2^40 - 1 (a negative one plus 2^40) without signed overflow.
    const uint64_t elapsed = (AsUnsigned(localTime) - AsUnsigned(previous_local_time_)) & kDeviceTimeMask;
    const uint64_t local_span =
        (AsUnsigned(latest_local_time_) - AsUnsigned(previous_local_time_)) & kDeviceTimeMask;
    const uint64_t master_span =
        (AsUnsigned(latest_master_time_) - AsUnsigned(previous_master_time_)) & kDeviceTimeMask;
    const uint64_t offset = AsUnsigned(master_dist_tick_offset_);
    if (local_span == 0)
        return static_cast<int64_t>((AsUnsigned(latest_master_time_) + offset) & kDeviceTimeMask);

    const double master_time = std::trunc(
        static_cast<double>(master_span) * (static_cast<double>(elapsed) / static_cast<double>(local_span)) +
        static_cast<double>(previous_master_time_));
    // Far extrapolation (a local time many spans past the window) can exceed
    // 2^63; the sum is reduced modulo 2^40 in every case, which equals adding
    // or subtracting 2^40 once whenever that suffices.
    return static_cast<int64_t>((WholeTicksModuloWrap(master_time) + offset) & kDeviceTimeMask);
}

void DwClock::SetMasterDistTickOffset(const derazud_pos3_t& a, const derazud_pos3_t& b) {
    // Positions are floats in metres; the distance is taken in millimetres.
    const Coordinates a_mm(a.x * 1000.0, a.y * 1000.0, a.z * 1000.0);
    const Coordinates b_mm(b.x * 1000.0, b.y * 1000.0, b.z * 1000.0);
    const double metres = a_mm.CalculateDistanceBetween(b_mm) / 1000.0;
    Settings* settings = Settings::GlobalSettings();
    master_dist_tick_offset_ = DistanceToTicks(metres, FlatSettingsInterface(settings).GetSpeedOfLight());
}

uint64_t DwClock::LastUpdateAgeMs() const {
    return AsUnsigned(QDateTime::currentMSecsSinceEpoch()) -
           AsUnsigned(last_update_ms_.load(std::memory_order_relaxed));
}

double DwClock::rdoa_from_clocks(int64_t a, int64_t b) {
    Settings* settings = Settings::GlobalSettings();
    return RangeDifference(a, b, FlatSettingsInterface(settings).GetSpeedOfLight());
}

double DwClock::RangeDifference(int64_t a, int64_t b, double speedOfLight) {
    // a - b, brought back by 2^40 when it exceeds 2^39 in magnitude. Worked
    // on unsigned magnitudes so that no input can overflow; exact for 40-bit
    // device times.
    double ticks;
    if (a < b) {
        const uint64_t behind = AsUnsigned(b) - AsUnsigned(a);
        if (behind <= kDeviceTimeHalfRange)
            ticks = -static_cast<double>(behind);
        else if (behind <= kDeviceTimeWrap)
            ticks = static_cast<double>(kDeviceTimeWrap - behind);
        else
            ticks = -static_cast<double>(behind - kDeviceTimeWrap);
    } else {
        const uint64_t ahead = AsUnsigned(a) - AsUnsigned(b);
        if (ahead <= kDeviceTimeHalfRange)
            ticks = static_cast<double>(ahead);
        else if (ahead <= kDeviceTimeWrap)
            ticks = -static_cast<double>(kDeviceTimeWrap - ahead);
        else
            ticks = static_cast<double>(ahead - kDeviceTimeWrap);
    }
    return ticks * (speedOfLight / kDeviceTicksPerSecond);
}

int64_t DwClock::DistanceToTicks(double metres, double speedOfLight) {
    const double ticks = std::trunc(kDeviceTicksPerSecond / speedOfLight * metres);
    // A missing or absurd position (NaN, infinite, a zero speed of light)
    // gives no offset rather than an undefined conversion; a finite value
    // beyond int64_t is reduced modulo 2^40, which is all its users look at.
    if (!std::isfinite(ticks))
        return 0;
    if (std::fabs(ticks) < kSafeInt64Magnitude)
        return static_cast<int64_t>(ticks);
    return static_cast<int64_t>(ReduceModuloWrap(ticks));
}
