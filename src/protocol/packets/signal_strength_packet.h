#pragma once
// The six receive-quality values as the devices send them: six big-endian
// u16 in a row, inside RX passthrough headers and report item headers.

#include <cstdint>

#include "protocol/packets/signal_strength.h"

int SignalStrength_FromBuff(const uint8_t* buffer, signal_strength_t* record);
int SignalStrength_ToBuff(uint8_t* buffer, const signal_strength_t* record);
int SignalStrength_Size();
