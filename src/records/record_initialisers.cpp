// The exported *_init functions that prepare public records, and the version queries.
#include <cstring>

#include <hlv_thread/log.h>
#include <hx/hx.h>

namespace halvex::records {

namespace {

// One body per record size: a record is only accepted at exactly its own size, so a host that
// mixes up record types or versions is told at once instead of having memory overwritten.
template <typename Record>
HX_STATUS initialiseRecord(Record* record, uint32_t size) noexcept
{
    if (record == nullptr || size != sizeof(Record)) {
        return HX_STATUS_ERROR;
    }
    std::memset(static_cast<void*>(record), 0, sizeof(Record));
    record->ver_maj = HX_API_VERSION_MAJ;
    record->ver_min = HX_API_VERSION_MIN;
    return HX_STATUS_OK;
}

// Records of equal size share a body (the header is the same, so any of them will do).
HX_STATUS initialiseSixteenBytes(void* record, uint32_t size) noexcept
{
    return initialiseRecord(static_cast<HX_ANALOG_GAIN*>(record), size);
}

HX_STATUS initialiseFortyFourBytes(void* record, uint32_t size) noexcept
{
    return initialiseRecord(static_cast<HX_LENS_SETTINGS*>(record), size);
}

void traceLifecycle(const char* name) noexcept
{
    try {
        HLV_TRACE(thread::TRACE_LIFECYCLE, "%s", name);
    } catch (...) {
        // A log line that cannot be built must not keep the record from being prepared.
    }
}

} // namespace

} // namespace halvex::records

// An initialiser with a body of its own, and one that shares the body of its record's size. The
// record argument is a type, which cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define HX_RECORD_INIT(Name, Record)                                                                                   \
  HX_STATUS HX_##Name(Record* record, uint32_t size)                                                                   \
  {                                                                                                                    \
    return initialiseRecord(record, size);                                                                             \
  }
#define HX_RECORD_INIT_SHARED(Name, Record, sharedBody)                                                                \
  HX_STATUS HX_##Name(Record* record, uint32_t size)                                                                   \
  {                                                                                                                    \
    return sharedBody(record, size);                                                                                   \
  }
// NOLINTEND(bugprone-macro-parentheses)

static_assert(sizeof(HX_BATTERY_INFO) == sizeof(HX_ANALOG_GAIN));
static_assert(sizeof(HX_TEMPERATURE) == sizeof(HX_LENS_SETTINGS));

using halvex::records::initialiseFortyFourBytes;
using halvex::records::initialiseRecord;
using halvex::records::initialiseSixteenBytes;
using halvex::records::traceLifecycle;

extern "C" {

HX_RECORD_INIT_SHARED(analog_gain_init, HX_ANALOG_GAIN, initialiseSixteenBytes)
HX_RECORD_INIT_SHARED(battery_info_init, HX_BATTERY_INFO, initialiseSixteenBytes)
HX_RECORD_INIT_SHARED(lens_settings_init, HX_LENS_SETTINGS, initialiseFortyFourBytes)
HX_RECORD_INIT_SHARED(temperature_init, HX_TEMPERATURE, initialiseFortyFourBytes)

HX_STATUS HX_camera_information_init(HX_CAMERA_INFORMATION* record, uint32_t size)
{
    traceLifecycle("HX_camera_information_init");
    return initialiseRecord(record, size);
}

// The lens information shares the lens status record, and so its initialiser.
HX_STATUS HX_lens_info_init(HX_LENS_STATUS* record, unsigned size)
{
    return initialiseRecord(record, size);
}

HX_RECORD_INIT(capture_settings_init, HX_CAPTURE_SETTINGS)
HX_RECORD_INIT(command_init, HX_COMMAND)
HX_RECORD_INIT(download_settings_init, HX_DOWNLOAD_SETTINGS)
HX_RECORD_INIT(io_settings_init, HX_IO_SETTINGS)
HX_RECORD_INIT(lens_status_init, HX_LENS_STATUS)
HX_RECORD_INIT(playback_settings_init, HX_PLAYBACK_SETTINGS)
HX_RECORD_INIT(read_stream_init, HX_READ_STREAM)
HX_RECORD_INIT(stream_settings_init, HX_STREAM_SETTINGS)

int CS_HX_VersionMaj(void)
{
    return HX_API_VERSION_MAJ;
}

int CS_HX_VersionMin(void)
{
    return HX_API_VERSION_MIN;
}

} // extern "C"
