#include "config/transmit_power.h"

#include <QJsonValue>
#include <cstdio>

uint32_t TransmitPower_Create(const std::string& text) {
    const char* c_text = text.c_str();
    // The readings are done wide and keep the low 32 bits: sscanf into a 32-bit
    // field is undefined for numbers that do not fit.
    unsigned long long hex = 0;
    if (std::sscanf(c_text, "0x%llx", &hex) == 1)
        return static_cast<uint32_t>(hex);
    unsigned int short_hex = 0;
    // Eight digits always fit 32 bits.
    if (std::sscanf(c_text, "%8x", &short_hex) == 1)
        return short_hex;
    long long decimal = 0;
    if (std::sscanf(c_text, "%lld", &decimal) == 1) {
        return static_cast<uint32_t>(static_cast<unsigned long long>(decimal));
    }
    return kDefaultTransmitPower;
}

uint32_t TransmitPower_Create(const QJsonValue& value) {
    if (value.isString())
        return TransmitPower_Create(value.toString().toUtf8().toStdString());
    return static_cast<uint32_t>(value.toInt(static_cast<int>(kDefaultTransmitPower)));
}
