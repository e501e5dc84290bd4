// Feeds arbitrary files to the TIFF reader and to the packing of a downloaded frame. The first
// four bytes choose the camera's image (width, height, bit mode) and the buffer's spare room; the
// rest is the file, placed in a heap buffer of exactly that size, so that any read or write
// outside it stops the run.
#include <cstdint>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "fuzz_check.h"
#include "packing/hx_internal.h"
#include "packing/tiff_directory.h"

using namespace halvex::packing;

namespace {

void readEveryTag(const uint8_t* data, std::size_t size)
{
    const TiffDirectory tiff(std::span<const uint8_t>(data, size));
    for (uint16_t tag : {halvex::packing::tiff_tag::IMAGE_WIDTH, halvex::packing::tiff_tag::IMAGE_LENGTH,
                         halvex::packing::tiff_tag::BITS_PER_SAMPLE, halvex::packing::tiff_tag::COMPRESSION,
                         halvex::packing::tiff_tag::STRIP_OFFSETS, halvex::packing::tiff_tag::SAMPLES_PER_PIXEL,
                         halvex::packing::tiff_tag::STRIP_BYTE_COUNTS}) {
        const std::optional<TiffField> field = tiff.find(tag);
        FUZZ_CHECK(halvex::packing::parseTiff(data, size, tag) ==
                   (field ? field->value : halvex::packing::TAG_NOT_FOUND));
        for (uint32_t i = 0; field && i < field->count && i < 8; ++i)
            static_cast<void>(tiff.value(*field, i));
    }
    static_cast<void>(tiff.stripRun());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The library's log lines go to standard output; the fuzzer reports on standard error.
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
    FUZZ_CHECK(HxInternal::factory() != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const halvex::packing::PackingImage image{1u + data[0] % 16u, 1u + data[1] % 16u, 1u << (data[2] % 10u)};
    const std::size_t fileSize = size - 4;
    std::vector<uint8_t> buffer(data + 4, data + size);
    buffer.resize(fileSize + data[3] % 64u);
    const std::vector<uint8_t> received = buffer;
    readEveryTag(buffer.data(), fileSize);

    HX_READ_STREAM record{};
    record.buffer = buffer.data();
    record.buffer_size = buffer.size();
    record.received_length = static_cast<uint32_t>(fileSize);
    record.image_length = record.received_length;
    halvex::packing::convertToPacked(record, image, "fuzz");

    FUZZ_CHECK(record.received_length == record.image_length);
    if (record.received_length == fileSize && buffer == received)
        return 0;
    // Packed: the packed image fits the buffer, and its size is the library's for the image.
    FUZZ_CHECK(record.received_length <= buffer.size());
    const uint32_t depth = image.bitMode <= 0x10 ? 8 : image.bitMode <= 0x80 ? 10 : 12;
    FUZZ_CHECK(record.received_length == HxInternal::getPackedSizeFuncPtr()(image.width, image.height, depth));
    return 0;
}
