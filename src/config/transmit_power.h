#pragma once
// Transmit-power codes: four byte-wide gain settings in one 32-bit code, written in the
// configuration file as hexadecimal text.

#include <cstdint>
#include <string>

class QJsonValue;

// Code used when the text or value holds no number.
constexpr uint32_t kDefaultTransmitPower = 0xFF0808FF;

// "0x%x", else up to eight hex digits ("%8x", so "123" is 0x123), else "%d", else
// 0xFF0808FF. The text ends at its first NUL.
uint32_t TransmitPower_Create(const std::string& text);
// A JSON string is read as text; any other value as an integer with 0xFF0808FF as
// the default (booleans, null, arrays, objects, fractions and numbers out of the
// signed 32-bit range give the default).
uint32_t TransmitPower_Create(const QJsonValue& value);
