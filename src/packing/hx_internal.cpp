// Image packing: finds the packing library at run time and rewrites downloaded TIFF frames with it.
#include "packing/hx_internal.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <span>

#include <hx/hx.h>

#include "hlv_thread/log.h"
#include "hlv_thread/log_label.h"
#include "packing/loadable_module.h"
#include "packing/tiff_directory.h"
#include "registers/bit_modes.h"

namespace halvex::packing {

using thread::fmtToString;

namespace {

// Lengths travel in 32-bit fields and signed arithmetic: larger buffers are used in part.
constexpr uint64_t USABLE_BUFFER_LIMIT = 0x7FFFFFFF;

// The loaded library and the singleton; allocated once and never freed, so that no static
// destructor runs at process exit while another thread may still pack.
struct ModuleState {
    std::mutex lock;
    void* module = nullptr;
    HxInternal* instance = nullptr;
    std::string name;
};

ModuleState& moduleState()
{
    static ModuleState* const state = new ModuleState;
    return *state;
}

void logDebug(const std::string& text)
{
    thread::logRaw(thread::LOG_PRIORITY_DEBUG, text);
}

void logError(const std::string& text)
{
    thread::logRaw(thread::LOG_PRIORITY_ERROR, text);
}

template <class Function>
Function asFunction(void* symbol)
{
    Function function = nullptr;
    static_assert(sizeof function == sizeof symbol);
    std::memcpy(&function, &symbol, sizeof function);
    return function;
}

} // namespace

HxInternal* HxInternal::factory()
{
    ModuleState& state = moduleState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.instance != nullptr)
        return state.instance;
    const std::string name = state.name.empty() ? LoadableModule::defaultName() : state.name;
    std::string error;
    void* module = LoadableModule::load(name, error);
    if (module == nullptr) {
        HLV_TRACE(thread::TRACE_PACKING, "%s: '%s' did not loaded. %s", "HxInternal::factory", name.c_str(),
                  error.c_str());
        return nullptr;
    }
    state.instance = new (std::nothrow) HxInternal;
    if (state.instance == nullptr) {
        LoadableModule::unload(module);
        logError(fmtToString("%s: Unable to allocate HxInternal object!", "HxInternal::factory"));
        return nullptr;
    }
    state.module = module;
    return state.instance;
}

HxInternal::ConvertTiffFunc HxInternal::getConvertTiffFuncPtr()
{
    return asFunction<ConvertTiffFunc>(lookUp("HxInternal::getConvertTiffFuncPtr", "hxConvertTiffImageData"));
}

HxInternal::PackedSizeFunc HxInternal::getPackedSizeFuncPtr()
{
    return asFunction<PackedSizeFunc>(lookUp("HxInternal::getPackedSizeFuncPtr", "hxGetPackedSize"));
}

void* HxInternal::lookUp(const char* caller, const char* entryName)
{
    ModuleState& state = moduleState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.module == nullptr) {
        const std::string name = state.name.empty() ? LoadableModule::defaultName() : state.name;
        HLV_TRACE(thread::TRACE_PACKING, "%s: '%s' is not loaded.", caller, name.c_str());
        return nullptr;
    }
    return LoadableModule::find(state.module, entryName);
}

void test_hooks::useModule(const std::string& moduleName)
{
    ModuleState& state = moduleState();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.module != nullptr)
        LoadableModule::unload(state.module);
    delete state.instance;
    state.module = nullptr;
    state.instance = nullptr;
    state.name = moduleName;
}

HLV_LOG_NAMESPACE(HX_INTERNAL);

namespace {

// Bytes of one input sample as the camera writes them: a byte at depth 8, a 16-bit word above.
uint32_t sampleBytes(uint32_t depth)
{
    return depth == 8 ? 1 : 2;
}

// The record's checks before anything is looked up: a packing library, a whole image, a buffer.
bool packable(const HX_READ_STREAM& record)
{
    if (HxInternal::factory() == nullptr) {
        logDebug(fmtToString("%s: Packed stream not supported!", HLV_LABEL("convertToPacked")));
        return false;
    }
    if (record.received_length != record.image_length) {
        logDebug(fmtToString("%s: length mismatch [%d != %d]!", HLV_LABEL("convertToPacked"), record.received_length,
                             record.image_length));
        return false;
    }
    if (record.buffer == nullptr) {
        logDebug(fmtToString("%s: null buffer pointer!", HLV_LABEL("convertToPacked")));
        return false;
    }
    return true;
}

// What in the file disagrees with the image the camera reports, or an empty text.
std::string tiffMismatch(const TiffDirectory& tiff, const PackingImage& image, uint32_t depth)
{
    const auto differs = [&tiff](uint16_t tag, uint32_t expected) {
        const std::optional<TiffField> field = tiff.find(tag);
        return field && tiff.value(*field, 0) != expected;
    };
    if (differs(tiff_tag::COMPRESSION, 1))
        return "the TIFF is compressed";
    if (differs(tiff_tag::SAMPLES_PER_PIXEL, 1))
        return "the TIFF has more than one sample per pixel";
    if (differs(tiff_tag::BITS_PER_SAMPLE, 8 * sampleBytes(depth)))
        return fmtToString("the TIFF's samples are not %u bits wide", 8 * sampleBytes(depth));
    if (differs(tiff_tag::IMAGE_WIDTH, image.width) || differs(tiff_tag::IMAGE_LENGTH, image.height))
        return fmtToString("the TIFF's size is not the camera's %ux%u", image.width, image.height);
    if (tiff.bigEndian() && sampleBytes(depth) > 1)
        return "the TIFF's 16-bit samples are big-endian";
    return {};
}

// Why the file's pixels cannot be packed into the buffer, or an empty text. The packing library
// trusts its caller with both the input and the output extent, so they are settled here.
std::string packingProblem(const TiffDirectory& tiff, std::size_t fileSize, std::size_t bufferSize,
                           const PackingImage& image, uint32_t depth, uint32_t packedSize)
{
    std::string mismatch = tiffMismatch(tiff, image, depth);
    if (!mismatch.empty())
        return mismatch;
    if (packedSize == 0)
        return fmtToString("%ux%u cannot be packed at depth %u", image.width, image.height, depth);
    if (packedSize > bufferSize)
        return fmtToString("the packed image [%u bytes] does not fit the buffer [%zu bytes]", packedSize, bufferSize);
    const std::optional<TiffByteRange> strips = tiff.stripRun();
    if (!strips)
        return "the TIFF's strips do not form one run of pixel data";
    const uint64_t needed = uint64_t{image.width} * image.height * sampleBytes(depth);
    if (strips->length < needed || strips->offset + needed > fileSize)
        return fmtToString("the pixel data [%llu bytes at %llu] is not within the %zu received bytes",
                           static_cast<unsigned long long>(needed), static_cast<unsigned long long>(strips->offset),
                           fileSize);
    return {};
}

// The start of the pixel data, or nullptr (logged) when it cannot be packed.
const uint8_t* checkedPixels(std::span<const uint8_t> file, std::size_t bufferSize, const PackingImage& image,
                             uint32_t depth, uint32_t packedSize, const char* camera)
{
    const TiffDirectory tiff(file);
    const std::string problem = packingProblem(tiff, file.size(), bufferSize, image, depth, packedSize);
    if (!problem.empty()) {
        logDebug(fmtToString("%s(%s): not packed: %s", HLV_LABEL("convertToPacked"), camera, problem.c_str()));
        return nullptr;
    }
    return file.data() + tiff.stripRun()->offset;
}

// Packs the checked record's buffer; false, logged, when something stops it.
bool packBuffer(const HX_READ_STREAM& record, const PackingImage& image, const char* camera, uint32_t& packedSize)
{
    const HxInternal::ConvertTiffFunc convert = HxInternal::getConvertTiffFuncPtr();
    if (convert == nullptr)
        return false;
    const std::optional<uint32_t> depth = packedDepth(image.bitMode, camera);
    if (!depth)
        return false;
    const auto bufferSize = static_cast<std::size_t>(std::min(record.buffer_size, USABLE_BUFFER_LIMIT));
    const std::span<const uint8_t> file(static_cast<const uint8_t*>(record.buffer),
                                        std::min<std::size_t>(record.received_length, bufferSize));
    if (parseTiff(file.data(), file.size(), tiff_tag::STRIP_OFFSETS) == TAG_NOT_FOUND) {
        logDebug(fmtToString("%s: Could not find the strip offset tag!", HLV_LABEL("convertToPacked")));
        return false;
    }
    HLV_TRACE(thread::TRACE_PACKING, "%s(%s), width=%d, height=%d, depth=%d", HLV_LABEL("convertToPacked"), camera,
              image.width, image.height, *depth);
    const HxInternal::PackedSizeFunc sizeOf = HxInternal::getPackedSizeFuncPtr();
    if (sizeOf == nullptr)
        return false;
    packedSize = sizeOf(image.width, image.height, *depth);
    const uint8_t* pixels = checkedPixels(file, bufferSize, image, *depth, packedSize, camera);
    if (pixels == nullptr)
        return false;
    const uint32_t status = convert(pixels, record.buffer, record.frame_id, image.width, image.height, *depth);
    if (status != 0) {
        logError(
            fmtToString("%s(%s): Error converting to packed [0x%x]", HLV_LABEL("convertToPacked"), camera, status));
        return false;
    }
    return true;
}

} // namespace

uint32_t parseTiff(const void* buffer, std::size_t size, uint16_t tag)
{
    if (buffer == nullptr) {
        logDebug(fmtToString("%s: null buffer pointer!", HLV_LABEL("parseTiff")));
        return TAG_NOT_FOUND;
    }
    const TiffDirectory tiff(std::span<const uint8_t>(static_cast<const uint8_t*>(buffer), size));
    const std::optional<TiffField> field = tiff.find(tag);
    return field ? field->value : TAG_NOT_FOUND;
}

std::optional<uint32_t> packedDepth(uint32_t bitMode, const std::string& cameraName)
{
    if (const uint32_t depth = registers::bitModeDepth(bitMode); depth != 0)
        return depth;
    logDebug(
        fmtToString("%s(%s): Unsupported bit mode [0x%x]", HLV_LABEL("convertToPacked"), cameraName.c_str(), bitMode));
    return std::nullopt;
}

void convertToPacked(HX_READ_STREAM& record, const PackingImage& image, const std::string& cameraName)
{
    HLV_TRACE(thread::TRACE_PACKING, "%s(%s): id=%d length=%d frame_length=%d", HLV_LABEL("convertToPacked"),
              cameraName.c_str(), record.frame_id, record.received_length, record.image_length);
    uint32_t packedSize = 0;
    if (!packable(record) || !packBuffer(record, image, cameraName.c_str(), packedSize))
        return;
    record.received_length = packedSize;
    record.image_length = packedSize;
}

} // namespace halvex::packing
