#include "device/Bytes.h"

#include <stdexcept>

namespace doxi {

namespace {

template <typename T>
bool readLE(const ByteView& view, size_t offset, T& out) {
    if (!view.has(offset, sizeof(T)))
        return false;
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<uint64_t>(*view.at(offset + i)) << (8 * i);
    out = static_cast<T>(value);
    return true;
}

// A field read from a whole record; a field past its end is a caller error.
template <typename T>
T field(const std::vector<uint8_t>& record, size_t offset) {
    T value{};
    if (!readLE(ByteView(record), offset, value))
        throw std::out_of_range("record field past the end of the record");
    return value;
}

template <typename T>
void setField(std::vector<uint8_t>& record, size_t offset, T v) {
    if (offset > record.size() || sizeof(T) > record.size() - offset)
        throw std::out_of_range("record field past the end of the record");
    for (size_t i = 0; i < sizeof(T); ++i)
        record[offset + i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
}

template <typename T>
void writeLE(std::vector<uint8_t>& out, T v) {
    for (size_t i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
}

}  // namespace

bool ByteView::u8(size_t offset, uint8_t& out) const { return readLE(*this, offset, out); }
bool ByteView::u16(size_t offset, uint16_t& out) const { return readLE(*this, offset, out); }
bool ByteView::u32(size_t offset, uint32_t& out) const { return readLE(*this, offset, out); }
bool ByteView::u64(size_t offset, uint64_t& out) const { return readLE(*this, offset, out); }

bool ByteView::i32(size_t offset, int32_t& out) const {
    uint32_t raw;
    if (!u32(offset, raw))
        return false;
    out = static_cast<int32_t>(raw);
    return true;
}

uint16_t readU16(const std::vector<uint8_t>& r, size_t o) { return field<uint16_t>(r, o); }
int16_t readI16(const std::vector<uint8_t>& r, size_t o) { return static_cast<int16_t>(field<uint16_t>(r, o)); }
uint32_t readU32(const std::vector<uint8_t>& r, size_t o) { return field<uint32_t>(r, o); }
int32_t readI32(const std::vector<uint8_t>& r, size_t o) { return static_cast<int32_t>(field<uint32_t>(r, o)); }
void writeU16(std::vector<uint8_t>& r, size_t o, uint16_t v) { setField(r, o, v); }
void writeU32(std::vector<uint8_t>& r, size_t o, uint32_t v) { setField(r, o, v); }

std::string toHex(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

void putU8(std::vector<uint8_t>& out, uint8_t v) { out.push_back(v); }
void putU16(std::vector<uint8_t>& out, uint16_t v) { writeLE(out, v); }
void putU32(std::vector<uint8_t>& out, uint32_t v) { writeLE(out, v); }
void putU64(std::vector<uint8_t>& out, uint64_t v) { writeLE(out, v); }

}  // namespace doxi
