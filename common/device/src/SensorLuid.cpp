#include "device/SensorLuid.h"

std::string luidHexKey(const _sc_sensor_luid& luid) {
    const unsigned char bytes[kLuidSize] = {
        static_cast<unsigned char>(luid.sensorType & 0xFF), static_cast<unsigned char>(luid.sensorType >> 8),
        static_cast<unsigned char>(luid.vendorId & 0xFF),   static_cast<unsigned char>(luid.vendorId >> 8),
        static_cast<unsigned char>(luid.subType & 0xFF),    static_cast<unsigned char>(luid.subType >> 8),
        luid.instance,                                      luid.flags,
    };
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * kLuidSize);
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}
