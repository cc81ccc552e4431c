#pragma once
// Turns the gap between total-path and first-path receive power into an index
// of the occlusion weighting table. The location engine's
// Dpu::CalculateSignalQualityWeightingIndex forwards to this function, which
// needs no engine state, so the monitoring interface calls it directly.

// trunc((totalPathDb - firstPathDb + 20) * 100), clamped to 0 .. 4999; a gap
// that is not a number gives 0. The clamps are applied before the conversion
// to int, so infinite gaps (a first-path power of -inf when all three
// amplitudes are 0) and gaps far outside the table are safe.
int CalculateSignalQualityWeightingIndex(double totalPathDb, double firstPathDb);

// The table weight of one reception: OCCLUSION_WEIGHTING_TABLE at the index above.
double CalculateSignalQualityWeight(double totalPathDb, double firstPathDb);
