#pragma once
// Anchor weights by receive-power gap: entry i belongs to a total-path minus
// first-path power gap of (i / 100 - 20) dB, so the table spans -20.00 dB to
// +29.99 dB in 0.01 dB steps. The weights rise strictly to the single maximum
// at OCCLUSION_WEIGHTING_PEAK_INDEX (4.15 dB) and fall strictly after it. The
// location engine and the monitoring interface read the same values.

constexpr int OCCLUSION_WEIGHTING_TABLE_SIZE = 5000;
constexpr int OCCLUSION_WEIGHTING_PEAK_INDEX = 2415;

extern const double OCCLUSION_WEIGHTING_TABLE[OCCLUSION_WEIGHTING_TABLE_SIZE];
