#pragma once
// Centre frequency in hertz of each UWB channel the DW1000 supports.
// Channel 6 is not one of them.

#include <map>

inline const std::map<int, double> CHANNEL_TO_CENTER_FREQUENCY_MAP = {
    {1, 3494.4e6}, {2, 3993.6e6}, {3, 4492.8e6}, {4, 3993.6e6}, {5, 6489.6e6}, {7, 6489.6e6},
};
