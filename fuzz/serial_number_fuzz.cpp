// Serial-number text parser on arbitrary bytes; printing and parsing again
// must give the same number.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/serial_number.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const uint32_t serial_number = SerialNumber_Create(text);
    if (SerialNumber_Create(SerialNumber_ToString(serial_number)) != serial_number) {
        std::abort();
    }
    (void)SerialNumber_GetDeviceTypeString(serial_number);
    return 0;
}
