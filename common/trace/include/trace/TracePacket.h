// The 4-byte packet header of the firmware's trace and trace-configuration
// clients, and the trace message record of a trace bulk. Both are packed and
// little-endian; every decoder here checks lengths before it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tracepkt {

// Commands of the trace client.
enum TraceCommand : uint8_t {
    TRACE_CMD_FLUSH = 0,  // host request; answered by a bare header
    TRACE_CMD_BULK = 1,   // firmware to host: a header and trace messages
};

// Commands of the trace-configuration client.
enum TraceConfigCommand : uint8_t {
    TRACE_CONFIG_GET = 0,         // answered by the 40-byte configuration record
    TRACE_CONFIG_SET = 1,         // the record and a "volatile" byte; answered by a bare header
    TRACE_CONFIG_GET_HEADER = 2,  // answered by the 32-byte trace log header
};

constexpr size_t kHeaderSize = 4;

struct trace_doxi_header_t {
    uint8_t command = 0;       // bits 0-6
    bool is_response = false;  // bit 7
    uint16_t length = 0;       // payload length as set by the sender
    uint8_t status = 0;        // 0 = success
};

// Decodes the header at the start of data; false when fewer than 4 bytes.
bool decodeHeader(const uint8_t* data, size_t size, trace_doxi_header_t& header);
// The 4 header bytes.
std::vector<uint8_t> encodeHeader(const trace_doxi_header_t& header);
// A request of the host: the command, every other field 0.
std::vector<uint8_t> request(uint8_t command);

// One trace message of a bulk (_trace_msg): a 12-byte header and its payload.
constexpr size_t kMessageHeaderSize = 12;

struct TraceMessage {
    uint64_t timestamp = 0;
    uint8_t type = 0;        // 0 inline format, 1 catalogued, 2 hex buffer
    uint8_t priority = 0;    // 0..7
    uint8_t component = 0;   // high nibble major, low nibble sub
    uint16_t bufferLength = 0;
    const uint8_t* payload = nullptr;
    // Payload bytes actually present: less than bufferLength when the
    // message runs past the bytes read.
    size_t available = 0;
};

enum class MessageRead {
    Ok,
    TruncatedHeader,   // fewer than 12 bytes left
    TruncatedPayload,  // the header announces more payload than is left
};

// Reads the message at data (size bytes left). With a truncated payload the
// message is filled with what there is.
MessageRead readMessage(const uint8_t* data, size_t size, TraceMessage& message);

// The message's bytes as the firmware sends them (for tests and tools).
std::vector<uint8_t> encodeMessage(uint64_t timestamp, uint8_t type, uint8_t priority, uint8_t component,
                                   const std::vector<uint8_t>& payload);

}  // namespace tracepkt
