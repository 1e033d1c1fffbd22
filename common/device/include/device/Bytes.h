// Little-endian access to message bytes. Every read is checked against the
// length of what was actually received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace doxi {

class ByteView {
public:
    ByteView(const uint8_t* bytes, size_t length) : data(bytes), size(bytes ? length : 0) {}
    explicit ByteView(const std::vector<uint8_t>& bytes) : data(bytes.data()), size(bytes.size()) {}

    size_t length() const { return size; }
    // True when length bytes from offset lie inside the view.
    bool has(size_t offset, size_t count) const { return offset <= size && count <= size - offset; }
    const uint8_t* at(size_t offset) const { return data + offset; }

    // Each returns false (and leaves out unchanged) when the field does not fit.
    bool u8(size_t offset, uint8_t& out) const;
    bool u16(size_t offset, uint16_t& out) const;
    bool u32(size_t offset, uint32_t& out) const;
    bool u64(size_t offset, uint64_t& out) const;
    bool i32(size_t offset, int32_t& out) const;

private:
    const uint8_t* data;
    size_t size;
};

// Fields of a record at an offset, little-endian; the caller has checked the
// record's length (a field past the end throws std::out_of_range).
uint16_t readU16(const std::vector<uint8_t>& record, size_t offset);
int16_t readI16(const std::vector<uint8_t>& record, size_t offset);
uint32_t readU32(const std::vector<uint8_t>& record, size_t offset);
int32_t readI32(const std::vector<uint8_t>& record, size_t offset);
void writeU16(std::vector<uint8_t>& record, size_t offset, uint16_t value);
void writeU32(std::vector<uint8_t>& record, size_t offset, uint32_t value);

// Bytes as two lower-case hex digits each, no separators.
std::string toHex(const uint8_t* bytes, size_t count);
inline std::string toHex(const std::vector<uint8_t>& bytes) { return toHex(bytes.data(), bytes.size()); }

// Appends values little-endian.
void putU8(std::vector<uint8_t>& out, uint8_t v);
void putU16(std::vector<uint8_t>& out, uint16_t v);
void putU32(std::vector<uint8_t>& out, uint32_t v);
void putU64(std::vector<uint8_t>& out, uint64_t v);

}  // namespace doxi
