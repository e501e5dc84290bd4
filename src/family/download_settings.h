// Family download settings: the format encodings, and the computation and merge of
// HX_DOWNLOAD_SETTINGS from the download register group and the camera's stream session.
#pragma once

#include <cstdint>

#include <hx/hx.h>

#include "registers/register_cache.h"

namespace halvex::family::download_settings {

// The camera's download format code for an HX_FORMAT_* bit. Throws SettingsException for a
// value that is not one format, and for DNG on a monochrome sensor. Packed output needs the
// packing library; without it the camera sends TIFF frames.
uint32_t formatToRegister(uint32_t format, bool colourSensor, bool packingAvailable);
// The HX_FORMAT_* bit for a download format code; codes the library does not know read as JPEG.
uint32_t formatFromRegister(uint32_t code);

// What the stream session contributes to the record: the packet length and delay the camera
// holds, the download range it was given, and the process-wide throttle counts.
struct SessionValues {
    uint32_t packetLength = 0;
    uint32_t packetDelay = 0;
    uint32_t start = 0;
    uint32_t stop = 0;
    uint32_t pauseCount = 0;
    uint32_t resumeCount = 0;
};

// Fills the cached record from the download group. Outside review there is nothing to download:
// the range and its limits are 0. In review a recording of n frames may be downloaded from frame
// 0 to n - 1; the first frame is at most n - 2.
void computeDownload(registers::RegisterCache& download, uint32_t formatCaps, const SessionValues& session,
                     HX_DOWNLOAD_SETTINGS& cached);
// Copies each field group whose values differ from the cache into the caller's record, marking
// the field and the record HX_FLAG_CHG; the throttle counts mark only the record.
void mergeDownload(const HX_DOWNLOAD_SETTINGS& cached, HX_DOWNLOAD_SETTINGS& caller);

// Checks a JPEG quality (1 to 100); throws SettingsException otherwise.
void checkJpegQuality(uint32_t quality);

} // namespace halvex::family::download_settings
