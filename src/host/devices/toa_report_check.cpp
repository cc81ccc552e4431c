#include "host/devices/toa_report_check.h"

#include <cmath>

#include "base/device_time.h"
#include "host/devices/dw_clock.h"

namespace {

bool IsUsableSpeedOfLight(double speed_of_light) {
    return speed_of_light > 0.0 && std::isfinite(speed_of_light);
}

}  // namespace

void ToaReportCheck_RemoveResponse(derazud_toa_t* toas, Coordinates* positions, int16_t* count, int index) {
    if (*count <= 0 || index < 0 || index >= *count) {
        return;
    }
    const int last = *count - 1;
    toas[index] = toas[last];
    if (positions != nullptr) {
        positions[index] = positions[last];
    }
    *count = static_cast<int16_t>(last);
}

double ToaReportCheck_AllowedMoveMm(double max_velocity, int64_t now_ms, int64_t last_check_ms) {
    // Subtracted in double: no signed overflow whatever the two times are.
    double elapsed_ms = static_cast<double>(now_ms) - static_cast<double>(last_check_ms);
    if (elapsed_ms < 0.0) {
        elapsed_ms = 0.0;
    }
    return max_velocity * elapsed_ms / 1000.0 * 1000.0;
}

void ToaReportCheck_RangeDifferenceVote(derazud_toa_t* toas, Coordinates* positions, int16_t* count,
                                        double speed_of_light, const ToaResponseRemoval& removal) {
    if (!IsUsableSpeedOfLight(speed_of_light) || *count <= 0 || *count > kToaReportCapacity) {
        return;
    }
    uint16_t votes[kToaReportCapacity] = {};
    const int n = *count;
    for (int i = 0; i < n; ++i) {
        for (int j = i + 1; j < n; ++j) {
            const double range_difference_mm =
                DwClock::RangeDifference(toas[i].toa, toas[j].toa, speed_of_light) * 1000.0;
            // Either anchor may have heard the tag first: the sign says which,
            // the magnitude is what the geometry bounds.
            if (std::fabs(range_difference_mm) > positions[i].CalculateDistanceBetween(positions[j]) + 1.0) {
                ++votes[i];
                ++votes[j];
            }
        }
    }
    int i = 0;
    while (i < *count) {
        if (votes[i] >= 3) {
            removal(i, kAnchorStatusRangeDifference);
            votes[i] = votes[*count - 1];
            ToaReportCheck_RemoveResponse(toas, positions, count, i);
        } else {
            ++i;
        }
    }
}

void ToaReportCheck_RemoveOutliers(derazud_toa_t* toas, Coordinates* positions, int16_t* count,
                                   const Coordinates& guess_mm, double speed_of_light, double allowed_move_mm,
                                   const ToaResponseRemoval& removal) {
    if (!IsUsableSpeedOfLight(speed_of_light) || *count <= 0 || *count > kToaReportCapacity) {
        return;
    }
    const double c_mm = speed_of_light * 1000.0;
    // Offsets are taken against the first response's TOA so that a report
    // straddling the 40-bit wrap is not torn apart; the common shift leaves
    // every deviation from the mean as it is.
    const uint64_t reference = static_cast<uint64_t>(toas[0].toa);
    double offsets[kToaReportCapacity];
    for (int k = 0; k < *count; ++k) {
        const double seconds =
            static_cast<double>(DeviceTimeDifference(reference, static_cast<uint64_t>(toas[k].toa))) /
            kDeviceTicksPerSecond;
        offsets[k] = seconds - guess_mm.CalculateDistanceBetween(positions[k]) / c_mm;
    }
    while (*count > 0) {
        double sum = 0.0;
        for (int k = 0; k < *count; ++k) {
            sum += offsets[k];
        }
        const double mean = sum / *count;
        int worst = 0;
        double worst_deviation = std::fabs(mean - offsets[0]) * c_mm;
        for (int k = 1; k < *count; ++k) {
            const double deviation = std::fabs(mean - offsets[k]) * c_mm;
            if (deviation > worst_deviation) {
                worst = k;
                worst_deviation = deviation;
            }
        }
        // Written so that a NaN allowed move (or deviation) removes nothing.
        if (!(worst_deviation > allowed_move_mm)) {
            return;
        }
        removal(worst, kAnchorStatusImplausibleMove);
        offsets[worst] = offsets[*count - 1];
        ToaReportCheck_RemoveResponse(toas, positions, count, worst);
    }
}
