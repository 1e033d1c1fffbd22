#include "device/Bytes.h"

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

void putU8(std::vector<uint8_t>& out, uint8_t v) { out.push_back(v); }
void putU16(std::vector<uint8_t>& out, uint16_t v) { writeLE(out, v); }
void putU32(std::vector<uint8_t>& out, uint32_t v) { writeLE(out, v); }
void putU64(std::vector<uint8_t>& out, uint64_t v) { writeLE(out, v); }

}  // namespace doxi
