#include "host/dpu/anchor_weight.h"

#include "host/devices/dw_clock.h"
#include "host/signal/signal_quality.h"
#include "protocol/reports/derazud_toa.h"

double CalculateAnchorWeight(const DwClock& clock, const derazud_toa_t& entry) {
    return CalculateSignalQualityWeight(clock.GetRaTotalPath(), clock.GetRaFirstPath()) *
           CalculateSignalQualityWeight(entry.total_power, entry.first_path_power) *
           CalculateSignalQualityWeight(clock.GetRcTotalPath(), clock.GetRcFirstPath());
}
