#include "base/serial_number.h"

#include <QJsonValue>
#include <cstdio>

uint32_t SerialNumber_Create(uint8_t vendor_id, uint8_t product_id, uint16_t device_id) {
    return (static_cast<uint32_t>(vendor_id) << 24) + (static_cast<uint32_t>(product_id) << 16) + device_id;
}

uint32_t SerialNumber_Create(const std::string& text) {
    // sscanf stops at the first NUL, as the text form has none.
    const char* c_text = text.c_str();
    // A conversion whose value does not fit its target is undefined (a signed
    // field such as "-1" does not fit an unsigned char), so every field is
    // read into a 64-bit value and keeps the low bits of its width, as the C
    // library's narrow conversions do here. The field widths of the text
    // form are unchanged.
    unsigned long long vendor = 0;
    unsigned long long product = 0;
    unsigned long long device = 0;
    if (std::sscanf(c_text, "%2llx:%2llx:%4llx", &vendor, &product, &device) == 3) {
        return SerialNumber_Create(static_cast<uint8_t>(vendor), static_cast<uint8_t>(product),
                                   static_cast<uint16_t>(device));
    }
    unsigned long long hex = 0;
    if (std::sscanf(c_text, "0x%llx", &hex) == 1) {
        return static_cast<uint32_t>(hex);
    }
    long long decimal = 0;
    if (std::sscanf(c_text, "%lld", &decimal) == 1) {
        return static_cast<uint32_t>(static_cast<unsigned long long>(decimal));
    }
    return 0;
}

uint32_t SerialNumber_Create(const QJsonValue& value) {
    if (value.isString()) {
        return SerialNumber_Create(value.toString().toUtf8().toStdString());
    }
    return static_cast<uint32_t>(value.toInt(0));
}

uint8_t SerialNumber_GetVendorId(uint32_t serial_number) {
    return static_cast<uint8_t>(serial_number >> 24);
}

uint8_t SerialNumber_GetProductId(uint32_t serial_number) {
    return static_cast<uint8_t>(serial_number >> 16);
}

uint16_t SerialNumber_GetDeviceId(uint32_t serial_number) {
    return static_cast<uint16_t>(serial_number);
}

std::string SerialNumber_ToString(uint32_t serial_number) {
    char text[14];
    std::snprintf(text, sizeof(text), "%02X:%02X:%04X", SerialNumber_GetVendorId(serial_number),
                  SerialNumber_GetProductId(serial_number), SerialNumber_GetDeviceId(serial_number));
    return text;
}

std::string SerialNumber_GetDeviceTypeString(uint32_t serial_number) {
    switch (serial_number >> 16) {
        case 0x0100:
            return "VORAV-SMA 1.0.1";
        case 0x0101:
            return "VORAV-Ceramic 1.0.0";
        default:
            return "Unknown Device Type";
    }
}

bool SerialNumber_IsValid(uint32_t serial_number) {
    return serial_number != 0 && serial_number != 0xFFFFFFFFu;
}
