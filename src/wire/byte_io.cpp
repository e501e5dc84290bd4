// Big-endian byte reader and writer that every packet codec is built on.
#include "wire/byte_io.h"

#include <algorithm>
#include <cstring>

namespace halvex::wire {

namespace {

// Stores the low `width` bytes of `value`, most significant first.
void storeBigEndian(uint8_t* out, uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i) {
        out[width - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint64_t loadBigEndian(const uint8_t* in, std::size_t width)
{
    uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = (value << 8) | in[i];
    }
    return value;
}

} // namespace

ByteWriter::ByteWriter(std::vector<uint8_t>& out) : vector_(&out) {}

ByteWriter::ByteWriter(std::span<uint8_t> out) : span_(out) {}

void ByteWriter::expectTotal(std::size_t total)
{
    if (vector_ != nullptr) {
        vector_->reserve(vector_->size() - written_ + total);
    }
}

uint8_t* ByteWriter::reserve(std::size_t count)
{
    if (failed_) {
        return nullptr;
    }
    if (vector_ != nullptr) {
        const std::size_t start = vector_->size();
        vector_->resize(start + count);
        written_ += count;
        return vector_->data() + start;
    }
    if (count > span_.size() - written_) {
        failed_ = true;
        return nullptr;
    }
    uint8_t* out = span_.data() + written_;
    written_ += count;
    return out;
}

void ByteWriter::u8(uint8_t value)
{
    if (uint8_t* out = reserve(1))
        storeBigEndian(out, value, 1);
}

void ByteWriter::u16(uint16_t value)
{
    if (uint8_t* out = reserve(2))
        storeBigEndian(out, value, 2);
}

void ByteWriter::u24(uint32_t value)
{
    if (uint8_t* out = reserve(3))
        storeBigEndian(out, value, 3);
}

void ByteWriter::u32(uint32_t value)
{
    if (uint8_t* out = reserve(4))
        storeBigEndian(out, value, 4);
}

void ByteWriter::u64(uint64_t value)
{
    if (uint8_t* out = reserve(8))
        storeBigEndian(out, value, 8);
}

void ByteWriter::bytes(std::span<const uint8_t> data)
{
    uint8_t* out = reserve(data.size());
    if (out != nullptr && !data.empty()) {
        std::memcpy(out, data.data(), data.size());
    }
}

void ByteWriter::zeros(std::size_t count)
{
    uint8_t* out = reserve(count);
    if (out != nullptr && count > 0) {
        std::memset(out, 0, count);
    }
}

void ByteWriter::text(std::string_view value, std::size_t fieldSize)
{
    uint8_t* out = reserve(fieldSize);
    if (out == nullptr || fieldSize == 0) {
        return;
    }
    const std::size_t used = std::min(value.size(), fieldSize);
    std::memset(out, 0, fieldSize);
    std::memcpy(out, value.data(), used);
}

ByteReader::ByteReader(std::span<const uint8_t> in) : in_(in) {}

const uint8_t* ByteReader::take(std::size_t count)
{
    if (failed_ || count > remaining()) {
        failed_ = true;
        return nullptr;
    }
    const uint8_t* at = in_.data() + position_;
    position_ += count;
    return at;
}

uint8_t ByteReader::u8()
{
    const uint8_t* at = take(1);
    return at != nullptr ? *at : 0;
}

uint16_t ByteReader::u16()
{
    const uint8_t* at = take(2);
    return at != nullptr ? static_cast<uint16_t>(loadBigEndian(at, 2)) : 0;
}

uint32_t ByteReader::u24()
{
    const uint8_t* at = take(3);
    return at != nullptr ? static_cast<uint32_t>(loadBigEndian(at, 3)) : 0;
}

uint32_t ByteReader::u32()
{
    const uint8_t* at = take(4);
    return at != nullptr ? static_cast<uint32_t>(loadBigEndian(at, 4)) : 0;
}

uint64_t ByteReader::u64()
{
    const uint8_t* at = take(8);
    return at != nullptr ? loadBigEndian(at, 8) : 0;
}

std::span<const uint8_t> ByteReader::bytes(std::size_t count)
{
    const uint8_t* at = take(count);
    return at != nullptr ? std::span<const uint8_t>(at, count) : std::span<const uint8_t>();
}

std::string ByteReader::text(std::size_t fieldSize)
{
    const std::span<const uint8_t> field = bytes(fieldSize);
    const auto end = std::find(field.begin(), field.end(), uint8_t{0});
    return std::string(field.begin(), end);
}

void ByteReader::skip(std::size_t count)
{
    take(count);
}

void ByteReader::seek(std::size_t offset)
{
    if (failed_ || offset > in_.size()) {
        failed_ = true;
        return;
    }
    position_ = offset;
}

} // namespace halvex::wire
