#include "host/signal/signal_quality.h"

#include <cmath>

#include "host/signal/occlusion_weighting_table.h"

int CalculateSignalQualityWeightingIndex(double totalPathDb, double firstPathDb) {
    const double scaled = (totalPathDb - firstPathDb + 20.0) * 100.0;
    if (std::isnan(scaled))
        return 0;
    // Compare the double before converting: casting a value outside the int
    // range would be undefined. trunc(scaled) >= 5000 exactly when scaled >= 5000.
    if (scaled >= static_cast<double>(OCCLUSION_WEIGHTING_TABLE_SIZE))
        return OCCLUSION_WEIGHTING_TABLE_SIZE - 1;
    if (scaled < 0.0)
        return 0;
    return static_cast<int>(scaled);
}

double CalculateSignalQualityWeight(double totalPathDb, double firstPathDb) {
    return OCCLUSION_WEIGHTING_TABLE[CalculateSignalQualityWeightingIndex(totalPathDb, firstPathDb)];
}
