#include "trace/TracePacket.h"

#include "device/Bytes.h"

namespace tracepkt {

bool decodeHeader(const uint8_t* data, size_t size, trace_doxi_header_t& header) {
    const doxi::ByteView view(data, size);
    uint8_t first = 0;
    if (!view.u8(0, first) || !view.u16(1, header.length) || !view.u8(3, header.status))
        return false;
    header.command = first & 0x7F;
    header.is_response = (first & 0x80) != 0;
    return true;
}

std::vector<uint8_t> encodeHeader(const trace_doxi_header_t& header) {
    std::vector<uint8_t> out = {static_cast<uint8_t>((header.command & 0x7F) | (header.is_response ? 0x80 : 0))};
    doxi::putU16(out, header.length);
    out.push_back(header.status);
    return out;
}

std::vector<uint8_t> request(uint8_t command) {
    trace_doxi_header_t header;
    header.command = command;
    return encodeHeader(header);
}

MessageRead readMessage(const uint8_t* data, size_t size, TraceMessage& message) {
    const doxi::ByteView view(data, size);
    uint8_t typeAndPriority = 0;
    if (!view.u64(0, message.timestamp) || !view.u8(8, typeAndPriority) || !view.u8(9, message.component) ||
        !view.u16(10, message.bufferLength))
        return MessageRead::TruncatedHeader;
    message.type = typeAndPriority & 0x0F;
    message.priority = (typeAndPriority >> 4) & 0x07;
    message.payload = view.at(kMessageHeaderSize);
    const size_t left = size - kMessageHeaderSize;
    message.available = left < message.bufferLength ? left : message.bufferLength;
    return left < message.bufferLength ? MessageRead::TruncatedPayload : MessageRead::Ok;
}

std::vector<uint8_t> encodeMessage(uint64_t timestamp, uint8_t type, uint8_t priority, uint8_t component,
                                   const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out;
    doxi::putU64(out, timestamp);
    out.push_back(static_cast<uint8_t>((type & 0x0F) | (priority & 0x07) << 4));
    out.push_back(component);
    doxi::putU16(out, static_cast<uint16_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

}  // namespace tracepkt
