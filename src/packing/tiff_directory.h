// Reads tags from the first image directory of a TIFF file held in memory, never outside its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace halvex::packing {

// TIFF tags and field types the image packing reads.
namespace tiff_tag {
constexpr uint16_t IMAGE_WIDTH = 256;
constexpr uint16_t IMAGE_LENGTH = 257;
constexpr uint16_t BITS_PER_SAMPLE = 258;
constexpr uint16_t COMPRESSION = 259;
constexpr uint16_t STRIP_OFFSETS = 273;
constexpr uint16_t SAMPLES_PER_PIXEL = 277;
constexpr uint16_t STRIP_BYTE_COUNTS = 279;
constexpr uint16_t TYPE_SHORT = 3;
constexpr uint16_t TYPE_LONG = 4;
} // namespace tiff_tag

// One 12-byte directory entry.
struct TiffField {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    // The entry's 4-byte value field read as one 32-bit number in the file's byte order; in a
    // big-endian file a single SHORT is read from the field's first two bytes, where it lives.
    uint32_t value = 0;
    // File offset of the value field.
    uint64_t valueFieldAt = 0;
};

// Where a run of bytes lies in the file. It may reach past the end: callers check.
struct TiffByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// A view of the first image directory. Cameras write little-endian files ("II"); a file that
// starts with "MM" is read big-endian, anything else little-endian. Every offset in the file is
// checked against its size before it is followed. Holds the span; the bytes must outlive it.
class TiffDirectory {
public:
    explicit TiffDirectory(std::span<const uint8_t> file);

    bool bigEndian() const;
    // The first entry with this tag; none when the header or directory lies outside the bytes,
    // the directory has no entries, or no entry has the tag before the bytes end.
    std::optional<TiffField> find(uint16_t tag) const;
    // Value number index of a SHORT or LONG field, whether kept in the entry or elsewhere; none
    // for other types, an index beyond the count, or values outside the bytes.
    std::optional<uint32_t> value(const TiffField& field, uint32_t index) const;
    // The bytes the image's strips cover when each strip starts where the previous one ended;
    // none when the strip tags are missing, unreadable or leave gaps. One strip without byte
    // counts is taken to run to the end of the file.
    std::optional<TiffByteRange> stripRun() const;

private:
    bool holds(uint64_t offset, uint64_t count) const;
    uint16_t u16(uint64_t offset) const;
    uint32_t u32(uint64_t offset) const;
    std::optional<uint64_t> valuesAt(const TiffField& field) const;

    std::span<const uint8_t> file_;
    bool bigEndian_ = false;
    uint64_t firstEntry_ = 0;
    uint32_t entryCount_ = 0;
};

} // namespace halvex::packing
