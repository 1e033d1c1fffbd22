// Firmware client GUIDs in their 16-byte in-memory form: a 32-bit, a 16-bit and
// a 16-bit field little-endian, then eight bytes in order.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace doxi {

struct Guid {
    std::array<uint8_t, 16> bytes{};

    static Guid make(uint32_t d1, uint16_t d2, uint16_t d3, std::array<uint8_t, 8> d4);
    // Standard text form, lower case: xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx.
    std::string toString() const;
    bool operator==(const Guid& other) const { return bytes == other.bytes; }
    bool operator!=(const Guid& other) const { return bytes != other.bytes; }
};

// Sensor management (SMHI) client.
extern const Guid SMHI_GUID;
// Firmware trace client.
extern const Guid TRACE_GUID;
// Trace configuration client.
extern const Guid TRACE_CONFIG_GUID;
// Interface GUID kept with the SMHI client by the class-form transport; never sent.
extern const Guid INTERFACE_GUID;

// Device nodes of the driver.
extern const char* const kSmhiNode;         // "/dev/keb-smhi"
extern const char* const kTraceNode;        // "/dev/keb-trace"
extern const char* const kTraceConfigNode;  // "/dev/keb-tracec"
extern const char* const kGenericNode;      // "/dev/keb", tried when the first node fails

// Connect a client by GUID: 16-byte argument, in the GUID, out the client's
// maximum message length (u32) and 12 unused bytes.
constexpr unsigned long IOCTL_DOXI_CONNECT_CLIENT = 0xC0104801UL;
// Read the firmware status register as hexadecimal text into a 1064-byte buffer.
constexpr unsigned long IOCTL_DOXI_STATUS_REGISTER = 0x4804UL;
constexpr size_t kStatusRegisterBufferSize = 1064;

}  // namespace doxi
