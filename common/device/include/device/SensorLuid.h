// The 8-byte sensor identifier used as the key of every sensor by every tool.
// On the wire it is packed little-endian in field order.
#pragma once

#include <cstdint>

struct _sc_sensor_luid {
    uint16_t sensorType = 0;
    uint16_t vendorId = 0;
    uint16_t subType = 0;
    uint8_t instance = 0;  // 0 for the primary sensor of its kind
    uint8_t flags = 0;     // bit 0: dynamic record, bit 1: static record (fit for testing)

    bool operator==(const _sc_sensor_luid& other) const {
        return sensorType == other.sensorType && vendorId == other.vendorId &&
               subType == other.subType && instance == other.instance && flags == other.flags;
    }
    bool operator!=(const _sc_sensor_luid& other) const { return !(*this == other); }
};

constexpr unsigned kLuidSize = 8;

#include <string>

// The eight bytes in wire order (16-bit fields little-endian), each as two
// lower-case hexadecimal digits: 16 characters.
std::string luidHexKey(const _sc_sensor_luid& luid);
