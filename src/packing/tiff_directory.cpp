// Reads tags from the first image directory of a TIFF file held in memory, never outside its bytes.
#include "packing/tiff_directory.h"

namespace halvex::packing {

namespace {

constexpr uint64_t HEADER_BYTES = 8;
constexpr uint64_t ENTRY_BYTES = 12;

uint32_t elementBytes(uint16_t type)
{
    if (type == tiff_tag::TYPE_SHORT)
        return 2;
    if (type == tiff_tag::TYPE_LONG)
        return 4;
    return 0;
}

} // namespace

TiffDirectory::TiffDirectory(std::span<const uint8_t> file) : file_(file)
{
    if (!holds(0, HEADER_BYTES))
        return;
    bigEndian_ = file_[0] == 'M' && file_[1] == 'M';
    const uint64_t directory = u32(4);
    if (!holds(directory, 2))
        return;
    entryCount_ = u16(directory);
    firstEntry_ = directory + 2;
}

bool TiffDirectory::bigEndian() const
{
    return bigEndian_;
}

std::optional<TiffField> TiffDirectory::find(uint16_t tag) const
{
    for (uint32_t i = 0; i < entryCount_; ++i) {
        const uint64_t entry = firstEntry_ + i * ENTRY_BYTES;
        if (!holds(entry, ENTRY_BYTES))
            return std::nullopt;
        if (u16(entry) != tag)
            continue;
        TiffField field{tag, u16(entry + 2), u32(entry + 4), u32(entry + 8), entry + 8};
        if (bigEndian_ && field.type == tiff_tag::TYPE_SHORT && field.count == 1)
            field.value = u16(entry + 8);
        return field;
    }
    return std::nullopt;
}

std::optional<uint32_t> TiffDirectory::value(const TiffField& field, uint32_t index) const
{
    const std::optional<uint64_t> values = valuesAt(field);
    if (!values || index >= field.count)
        return std::nullopt;
    const uint64_t at = *values + uint64_t{index} * elementBytes(field.type);
    if (field.type == tiff_tag::TYPE_SHORT)
        return u16(at);
    return u32(at);
}

std::optional<TiffByteRange> TiffDirectory::stripRun() const
{
    const std::optional<TiffField> offsets = find(tiff_tag::STRIP_OFFSETS);
    const std::optional<TiffField> counts = find(tiff_tag::STRIP_BYTE_COUNTS);
    if (!offsets || offsets->count == 0)
        return std::nullopt;
    const std::optional<uint32_t> start = value(*offsets, 0);
    if (!start)
        return std::nullopt;
    if (!counts) {
        if (offsets->count != 1 || *start > file_.size())
            return std::nullopt;
        return TiffByteRange{*start, file_.size() - *start};
    }
    if (counts->count != offsets->count || !valuesAt(*offsets) || !valuesAt(*counts))
        return std::nullopt;
    // Both arrays lie within the file, so this loop is bounded by its size.
    uint64_t end = *start;
    for (uint32_t i = 0; i < offsets->count; ++i) {
        const std::optional<uint32_t> stripStart = value(*offsets, i);
        const std::optional<uint32_t> stripBytes = value(*counts, i);
        if (!stripStart || !stripBytes || *stripStart != end)
            return std::nullopt;
        end += *stripBytes;
    }
    return TiffByteRange{*start, end - *start};
}

bool TiffDirectory::holds(uint64_t offset, uint64_t count) const
{
    return offset <= file_.size() && count <= file_.size() - offset;
}

uint16_t TiffDirectory::u16(uint64_t offset) const
{
    const uint16_t a = file_[offset];
    const uint16_t b = file_[offset + 1];
    return static_cast<uint16_t>(bigEndian_ ? (a << 8 | b) : (b << 8 | a));
}

uint32_t TiffDirectory::u32(uint64_t offset) const
{
    const uint32_t first = u16(offset);
    const uint32_t second = u16(offset + 2);
    return bigEndian_ ? (first << 16 | second) : (second << 16 | first);
}

// Where a SHORT or LONG field's values start: in the entry itself when they fit in four bytes,
// else at the offset the entry holds. None unless all of them lie within the file.
std::optional<uint64_t> TiffDirectory::valuesAt(const TiffField& field) const
{
    const uint32_t size = elementBytes(field.type);
    if (size == 0)
        return std::nullopt;
    const uint64_t bytes = uint64_t{field.count} * size;
    const uint64_t at = bytes <= 4 ? field.valueFieldAt : u32(field.valueFieldAt);
    if (!holds(at, bytes))
        return std::nullopt;
    return at;
}

} // namespace halvex::packing
