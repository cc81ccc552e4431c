#pragma once
// Device serial numbers: vendor id in bits 31-24, product id in bits 23-16,
// device id in bits 15-0. 0 and 0xFFFFFFFF stand for no device.

#include <cstdint>
#include <string>

class QJsonValue;

uint32_t SerialNumber_Create(uint8_t vendor_id, uint8_t product_id, uint16_t device_id);
// "%2hhx:%2hhx:%4hx", else "0x%x", else "%d", else 0.
uint32_t SerialNumber_Create(const std::string& text);
// A JSON string is parsed as text; anything else goes through QJsonValue::toInt(0).
uint32_t SerialNumber_Create(const QJsonValue& value);

uint8_t SerialNumber_GetVendorId(uint32_t serial_number);
uint8_t SerialNumber_GetProductId(uint32_t serial_number);
uint16_t SerialNumber_GetDeviceId(uint32_t serial_number);

// "%02X:%02X:%04X", always 12 characters.
std::string SerialNumber_ToString(uint32_t serial_number);
std::string SerialNumber_GetDeviceTypeString(uint32_t serial_number);
bool SerialNumber_IsValid(uint32_t serial_number);
