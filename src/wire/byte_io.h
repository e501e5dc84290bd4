// Big-endian byte reader and writer that every packet codec is built on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halvex::wire {

// Writes big-endian fields either by appending to a vector or into a fixed span. Writing past
// the end of a span writes nothing and sets a sticky failure flag instead.
class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& out);
    explicit ByteWriter(std::span<uint8_t> out);

    void u8(uint8_t value);
    void u16(uint16_t value);
    void u24(uint32_t value);
    void u32(uint32_t value);
    void u64(uint64_t value);
    void bytes(std::span<const uint8_t> data);
    void zeros(std::size_t count);
    // A fixed-size text field: the text cut to `fieldSize` bytes, padded with NULs.
    void text(std::string_view value, std::size_t fieldSize);
    // Makes room in a vector for `total` bytes in all at once, so a datagram written field by
    // field is not reallocated on the way (a span is already its whole size).
    void expectTotal(std::size_t total);

    bool ok() const { return !failed_; }
    // Bytes written through this writer (for a vector: appended by it).
    std::size_t written() const { return written_; }

private:
    uint8_t* reserve(std::size_t count);

    std::vector<uint8_t>* vector_ = nullptr;
    std::span<uint8_t> span_;
    std::size_t written_ = 0;
    bool failed_ = false;
};

// Reads big-endian fields from untrusted bytes. A read past the end returns zero (or an empty
// span or text), consumes nothing and sets a sticky failure flag, so a decoder can read a whole
// record and check ok() once.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> in);

    uint8_t u8();
    uint16_t u16();
    uint32_t u24();
    uint32_t u32();
    uint64_t u64();
    // The next `count` bytes, without copying.
    std::span<const uint8_t> bytes(std::size_t count);
    // A fixed-size text field: the characters before the first NUL within `fieldSize` bytes.
    std::string text(std::size_t fieldSize);
    void skip(std::size_t count);
    // Moves to an absolute offset; an offset beyond the end fails.
    void seek(std::size_t offset);

    bool ok() const { return !failed_; }
    std::size_t position() const { return position_; }
    std::size_t remaining() const { return in_.size() - position_; }
    std::span<const uint8_t> rest() const { return in_.subspan(position_); }

private:
    const uint8_t* take(std::size_t count);

    std::span<const uint8_t> in_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

} // namespace halvex::wire
