#include "device/Guid.h"

#include <cstdio>

namespace doxi {

Guid Guid::make(uint32_t d1, uint16_t d2, uint16_t d3, std::array<uint8_t, 8> d4) {
    Guid g;
    for (int i = 0; i < 4; ++i)
        g.bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(d1 >> (8 * i));
    g.bytes[4] = static_cast<uint8_t>(d2);
    g.bytes[5] = static_cast<uint8_t>(d2 >> 8);
    g.bytes[6] = static_cast<uint8_t>(d3);
    g.bytes[7] = static_cast<uint8_t>(d3 >> 8);
    for (size_t i = 0; i < 8; ++i)
        g.bytes[8 + i] = d4[i];
    return g;
}

std::string Guid::toString() const {
    const auto& b = bytes;
    char text[40];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

const Guid SMHI_GUID = Guid::make(0xbb579a2e, 0xcc54, 0x4450, {0xb1, 0xd0, 0x5e, 0x75, 0x20, 0xdc, 0xad, 0x25});
const Guid TRACE_GUID = Guid::make(0xc1cc78b9, 0xb693, 0x4e54, {0x91, 0x91, 0x51, 0x69, 0xcb, 0x02, 0x7c, 0x25});
const Guid TRACE_CONFIG_GUID =
    Guid::make(0x1f050626, 0xd505, 0x4e94, {0xb1, 0x89, 0x53, 0x5d, 0x7d, 0xe1, 0x9c, 0xf2});
const Guid INTERFACE_GUID = Guid::make(0xaa1dcd67, 0x308f, 0x4daa, {0xa2, 0xb9, 0x27, 0x82, 0xd4, 0x70, 0x3c, 0x5d});

const char* const kSmhiNode = "/dev/keb-smhi";
const char* const kTraceNode = "/dev/keb-trace";
const char* const kTraceConfigNode = "/dev/keb-tracec";
const char* const kGenericNode = "/dev/keb";

}  // namespace doxi
