#include "protocol/serial_number.h"

#include <QJsonValue>
#include <cstdio>

uint32_t SerialNumber_Create(uint8_t vendor_id, uint8_t product_id, uint16_t device_id) {
    return (static_cast<uint32_t>(vendor_id) << 24) + (static_cast<uint32_t>(product_id) << 16) + device_id;
}

uint32_t SerialNumber_Create(const std::string& text) {
    // sscanf stops at the first NUL, as the text form has none.
    const char* c_text = text.c_str();
    unsigned char vendor = 0;
    unsigned char product = 0;
    unsigned short device = 0;
    if (std::sscanf(c_text, "%2hhx:%2hhx:%4hx", &vendor, &product, &device) == 3) {
        return SerialNumber_Create(vendor, product, device);
    }
    // "%x" and "%d" on text out of the 32-bit range are undefined; both are
    // read wide and keep their low 32 bits, as the C library's 32-bit
    // conversions do here.
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
