// hxcam live and download: receive a camera's live images or download its recorded frames into
// TIFF files, with a progress bar and, on request, statistics.
#include "stream_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>

#include "download_request.h"
#include "frame_files.h"
#include "frame_writer.h"
#include "pixel_depth.h"
#include "read_retry.h"
#include "session.h"
#include "stream_client.h"
#include "stream_stats.h"

namespace hxcam {

using halvex::common::cameraAddress;
using halvex::common::Content;
using halvex::common::downloadRequest;
using halvex::common::FrameGeometry;
using halvex::common::framePath;
using halvex::common::packedRowBytes;
using halvex::common::ProgressBar;
using halvex::common::sniffContent;
using halvex::common::StreamStats;
using halvex::common::writeBytes;
using halvex::common::writePixelsAsTiff;

namespace {

using Clock = std::chrono::steady_clock;

enum Exit : int { OK = 0, USAGE = 1, FAILED = 2, REFUSED = 3 };

constexpr uint32_t LIVE_BUFFERS = 4;
// A camera at line rate fills a full-HD buffer in under 2 ms, and the pause the throttle asks for
// takes a control round trip (longer on a busy host) to reach it: a quarter of 64 buffers left is
// room for the frames already on their way. 16 lost frames on a loaded 2-core machine.
constexpr uint32_t DOWNLOAD_BUFFERS = 64;
constexpr double LIVE_TIMEOUT_SECONDS = 30;
constexpr double DOWNLOAD_TIMEOUT_SECONDS = 120;
// Room beside the pixels for the header of a TIFF file the camera writes.
constexpr std::size_t FILE_HEADER_ROOM = 64 * 1024;
constexpr std::size_t PAGE = 4096;

struct OptionSpec {
    const char* name;
    int values;
};

constexpr OptionSpec OPTIONS[] = {{"--frames", 1},  {"--out", 1},    {"--from", 1},    {"--to", 1},   {"--buffers", 1},
                                  {"--timeout", 1}, {"--format", 1}, {"--retries", 1}, {"--stats", 0}};
// UDP carries no packet resend: at 1% packet loss about half the frames of a download arrive
// incomplete, so a download fetches what it missed again, pass after pass, until nothing is left or
// passes bring no frame whole (the camera is gone, or every try of a frame is damaged); --retries
// caps the passes.
constexpr uint32_t UNTIL_NO_PROGRESS = 0xFFFFFFFF;
// Passes in a row that bring no frame whole before the retries stop. A frame fetched alone fails
// often: at 1% packet loss a 58-packet frame comes back incomplete 44% of the time, so two failed
// passes in a row happen to one such frame in five; five in a row to one in sixty.
constexpr uint32_t BARREN_PASSES = 5;
// Frames already written that lie between two runs of frames to fetch again are fetched with
// them when there are no more than this many: a download started costs more than a few frames.
constexpr uint32_t RETRY_MERGE_GAP = 8;

struct StreamOptions {
    std::string command;
    std::string out;
    uint32_t frames = 10;
    std::optional<uint32_t> from;
    std::optional<uint32_t> to;
    uint32_t buffers = 0;
    double timeout = 0;
    uint32_t retries = UNTIL_NO_PROGRESS;
    bool packed = false;
    bool stats = false;
};

const char* const usageText =
    "  live --out DIR [--frames N]        N live images (default 10) as DIR/live-NNNNNN.tif\n"
    "  download --from A --to B --out DIR recorded frames A to B as DIR/download-NNNNNN.tif\n"
    "    [--format tiff|packed]           as the camera writes them, or packed by the library\n"
    "    [--retries N]                    fetch incomplete frames again, at most N passes (default: until\n"
    "                                     none is left or 5 passes in a row recover none; 0: never)\n"
    "    options of both: --buffers K (images in flight), --timeout S (give up after S seconds),\n"
    "    --stats (frames, bytes, rate, lost packets, incomplete frames on standard output)\n";

int usageError(const std::string& text)
{
    std::fprintf(stderr, "hxcam: %s\n(hxcam --help shows the commands and options)\n", text.c_str());
    return USAGE;
}

bool parseCount(const std::string& text, uint32_t maximum, uint32_t& value)
{
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || number > maximum)
        return false;
    value = static_cast<uint32_t>(number);
    return true;
}

bool parseValue(StreamOptions& options, const std::string& name, const std::string& value, std::string& error)
{
    uint32_t number = 0;
    if (name == "--out") {
        options.out = value;
    } else if (name == "--format" && (value == "tiff" || value == "packed")) {
        options.packed = value == "packed";
    } else if (name == "--timeout" && parseCount(value, 3600, number) && number > 0) {
        options.timeout = number;
    } else if (name == "--frames" && parseCount(value, 100000, number) && number > 0) {
        options.frames = number;
    } else if (name == "--retries" && parseCount(value, 100, number)) {
        options.retries = number;
    } else if (name == "--buffers" && parseCount(value, 256, number) && number > 0) {
        options.buffers = number;
    } else if (name == "--from" && parseCount(value, 0xFFFFFFFE, number)) {
        options.from = number;
    } else if (name == "--to" && parseCount(value, 0xFFFFFFFE, number)) {
        options.to = number;
    } else {
        error = name + " does not take '" + value + "'";
        return false;
    }
    return true;
}

bool parse(const std::vector<std::string>& words, StreamOptions& options, std::string& error)
{
    options.command = words.front();
    for (std::size_t i = 1; i < words.size(); ++i) {
        const int values = streamOptionValues(words[i]);
        if (values < 0 || i + static_cast<std::size_t>(values) >= words.size()) {
            error = "unknown argument or missing value: " + words[i];
            return false;
        }
        if (values == 0) {
            options.stats = true;
        } else if (!parseValue(options, words[i], words[i + 1], error)) {
            return false;
        }
        i += static_cast<std::size_t>(values);
    }
    if (options.out.empty()) {
        error = options.command + " needs --out DIR";
        return false;
    }
    if (options.command == "download" && (!options.from || !options.to || *options.from > *options.to)) {
        error = "download needs --from A --to B with A <= B";
        return false;
    }
    return true;
}

std::size_t roundUp(std::size_t bytes, std::size_t unit)
{
    return (bytes + unit - 1) / unit * unit;
}

// A setup call that asks nothing to be set reads the camera's values.
bool readGeometry(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, FrameGeometry& geometry)
{
    HX_CAPTURE_SETTINGS capture;
    const bool read = readWithRetries([&] {
        HX_capture_settings_init(&capture, sizeof(capture));
        return HX_setup_capture_syn(client, camera, &capture, &capture) == HX_STATUS_OK &&
               (capture.flags & HX_FLAG_ERR) == 0 && halvex::common::bitModeDepth(capture.bit_mode) != 0;
    });
    if (!read) {
        std::fprintf(stderr, "hxcam: could not read the image size of %s\n", cameraAddress(camera).c_str());
        return false;
    }
    geometry = {capture.width, capture.height, halvex::common::bitModeDepth(capture.bit_mode)};
    return true;
}

bool prepareDirectory(const std::string& directory)
{
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        std::fprintf(stderr, "hxcam: cannot create %s: %s\n", directory.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

// A buffer given back unfilled keeps the status it was lent with, plus error and last.
bool released(const HX_READ_STREAM& record)
{
    const uint32_t unfilled = HX_STREAM_STATUS_ERROR | HX_STREAM_STATUS_LAST;
    return (record.status & unfilled) == unfilled && record.received_length == 0 && record.image_length == 0;
}

// Lends a buffer again with its results cleared, so what comes back is this round's alone.
HX_STATUS lendAgain(HX_STATUS (*lendCall)(HX_CLIENT_HANDLE, HX_CAMERA_HANDLE, HX_READ_STREAM*), HX_CLIENT_HANDLE client,
                    HX_CAMERA_HANDLE camera, HX_READ_STREAM* record)
{
    record->status = 0;
    record->received_length = 0;
    record->image_length = 0;
    record->frame_id = 0;
    return lendCall(client, camera, record);
}

// Camera files keep their bytes; pixel data becomes a TIFF.
bool saveFrame(const std::string& directory, const char* prefix, const HX_READ_STREAM& record,
               const FrameGeometry& geometry)
{
    const auto* data = static_cast<const uint8_t*>(record.buffer);
    const std::size_t size = record.received_length;
    std::string error;
    bool saved = false;
    switch (sniffContent(data, size)) {
    case Content::Tiff:
        saved = writeBytes(framePath(directory, prefix, record.frame_id, "tif"), data, size, error);
        break;
    case Content::Jpeg:
        saved = writeBytes(framePath(directory, prefix, record.frame_id, "jpg"), data, size, error);
        break;
    case Content::Pixels:
        saved = writePixelsAsTiff(framePath(directory, prefix, record.frame_id, "tif"), data, size, geometry, error);
        break;
    }
    if (!saved)
        std::fprintf(stderr, "hxcam: frame %u: %s\n", record.frame_id, error.c_str());
    return saved;
}

// Stream switches are posted to the camera's service thread; a waiting call on the same camera
// returns once everything posted before it has been handled there.
void waitForCamera(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    HX_COMMAND state;
    HX_command_init(&state, sizeof(state));
    HX_command_syn(client, camera, &state, &state);
}

Clock::time_point deadlineAfter(double seconds)
{
    return Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

// --- live -----------------------------------------------------------------------------------------

// Lends the buffers and switches live on; false (with a message) when the library refuses.
bool startLive(HX_CAMERA_HANDLE camera, const StreamOptions& options, const FrameGeometry& geometry)
{
    StreamClient& client = StreamClient::instance();
    const std::size_t frameBytes = packedRowBytes(geometry.width, geometry.depth) * geometry.height;
    const std::size_t size = std::max<std::size_t>(HX_STREAM_MIN_BUFFER_SIZE, roundUp(frameBytes + PAGE, PAGE));
    for (HX_READ_STREAM* record : client.buffers(options.buffers != 0 ? options.buffers : LIVE_BUFFERS, size)) {
        if (HX_live(client.client(), camera, record) != HX_STATUS_OK) {
            std::fprintf(stderr, "hxcam: the library refused a live buffer\n");
            return false;
        }
    }
    if (HX_live_enable(client.client(), camera, 1) != HX_STATUS_OK) {
        std::fprintf(stderr, "hxcam: could not switch the live stream on\n");
        return false;
    }
    return true;
}

// Writes whole images until there are enough, lending each buffer again; the images written.
uint32_t receiveLive(HX_CAMERA_HANDLE camera, const StreamOptions& options, const FrameGeometry& geometry,
                     StreamStats& stats)
{
    StreamClient& client = StreamClient::instance();
    const Clock::time_point deadline = deadlineAfter(options.timeout > 0 ? options.timeout : LIVE_TIMEOUT_SECONDS);
    ProgressBar bar(stderr, options.frames, "frames");
    uint32_t written = 0;
    StreamClient::Returned returned;
    while (written < options.frames && client.next(deadline, returned)) {
        if (returned.record == nullptr || released(*returned.record))
            break;
        stats.setPacketSize(client.packetSize());
        stats.add(*returned.record);
        if (StreamStats::complete(*returned.record) && saveFrame(options.out, "live", *returned.record, geometry))
            ++written;
        bar.update(written, stats.bytes(), stats.seconds());
        if (written < options.frames)
            lendAgain(HX_live, client.client(), camera, returned.record);
    }
    bar.finish();
    return written;
}

int runLive(HX_CAMERA_HANDLE camera, const StreamOptions& options, std::FILE* out)
{
    StreamClient& client = StreamClient::instance();
    FrameGeometry geometry;
    if (!readGeometry(client.client(), camera, geometry) || !prepareDirectory(options.out) ||
        !startLive(camera, options, geometry))
        return FAILED;
    StreamStats stats(false);
    const uint32_t written = receiveLive(camera, options, geometry, stats);
    HX_live_enable(client.client(), camera, 0);
    waitForCamera(client.client(), camera);
    std::fprintf(out, "live: %u frames in %s\n", written, options.out.c_str());
    if (options.stats)
        stats.print(out);
    if (written < options.frames) {
        std::fprintf(stderr, "hxcam: only %u of %u live frames arrived\n", written, options.frames);
        return FAILED;
    }
    return OK;
}

// --- download ---------------------------------------------------------------------------------------

// Frames first to last of the recording.
struct FrameRange {
    uint32_t first = 0;
    uint32_t last = 0;
    uint32_t count() const { return last - first + 1; }
};

int applyDownloadSettings(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const StreamOptions& options,
                          FrameRange range, uint32_t buffers)
{
    HX_DOWNLOAD_SETTINGS current;
    if (!readWithRetries([&] {
            HX_download_settings_init(&current, sizeof(current));
            return HX_setup_download_syn(client, camera, &current, &current) == HX_STATUS_OK;
        })) {
        std::fprintf(stderr, "hxcam: could not read the download settings of %s\n", cameraAddress(camera).c_str());
        return FAILED;
    }
    // The range, format and throttle are settings: writing them again changes nothing more.
    HX_DOWNLOAD_SETTINGS request;
    if (!readWithRetries([&] {
            request = downloadRequest(current, range.first, range.last,
                                      options.packed ? HX_FORMAT_PACKED : HX_FORMAT_TIFF, buffers);
            return HX_setup_download_syn(client, camera, &request, &request) == HX_STATUS_OK;
        })) {
        std::fprintf(stderr, "hxcam: the download settings of %s could not be set\n", cameraAddress(camera).c_str());
        return FAILED;
    }
    if (((request.start_flags | request.stop_flags) & HX_FLAG_ERR) != 0) {
        std::fprintf(stderr, "hxcam: refused: frames %u to %u (the recording's last frame is %u)\n", range.first,
                     range.last, request.stop_max);
        return REFUSED;
    }
    if ((request.format_flags & HX_FLAG_ERR) != 0) {
        std::fprintf(stderr, "hxcam: refused: format %s\n", options.packed ? "packed" : "tiff");
        return REFUSED;
    }
    return OK;
}

struct DownloadOutcome {
    uint32_t frames = 0;
    uint32_t released = 0;
    bool last = false;
    uint32_t stillLent = 0; // buffers the library had not given back when the download was over
};

// How long the buffers lent beyond a download's last frame may take to come back.
constexpr auto SPARES_TIMEOUT = std::chrono::seconds(2);

// One download: the buffers lent for it, and the frames of the whole command written so far
// (filled on the writer's thread; read on the command's once the writer has finished).
struct DownloadPass {
    FrameRange range;
    std::vector<HX_READ_STREAM*> records;
    std::set<uint32_t>* written = nullptr;
};

// Frames are written on the writer's thread, which lends each buffer again once its frame is on
// disk, so receiving and writing overlap and a slow disk holds the camera back through the throttle.
// Buffers of an earlier download that come back late are not this download's and are passed over.
DownloadOutcome receiveDownload(HX_CAMERA_HANDLE camera, const StreamOptions& options, const DownloadPass& pass,
                                const FrameGeometry& geometry, StreamStats* stats, FrameWriter& writer)
{
    StreamClient& client = StreamClient::instance();
    const Clock::time_point deadline = deadlineAfter(options.timeout > 0 ? options.timeout : DOWNLOAD_TIMEOUT_SECONDS);
    const std::set<const HX_READ_STREAM*> mine(pass.records.begin(), pass.records.end());
    std::optional<ProgressBar> bar;
    if (stats != nullptr)
        bar.emplace(stderr, pass.range.count(), "frames");
    DownloadOutcome outcome;
    StreamClient::Returned returned;
    uint32_t returns = 0;
    uint32_t relent = 0; // counted on the writer's thread
    // Buffers lent and not yet back. A buffer is lent again only while those lent cannot hold the
    // frames still to come: one lent again after the library has ended the download waits for the
    // next one, and this download would wait SPARES_TIMEOUT for it.
    auto lentNow = static_cast<uint32_t>(pass.records.size());
    while (!outcome.last && lentNow > 0 && client.next(deadline, returned)) {
        if (returned.record == nullptr)
            break;
        if (mine.count(returned.record) == 0)
            continue;
        ++returns;
        if (released(*returned.record)) {
            ++outcome.released;
            --lentNow;
            continue;
        }
        ++outcome.frames;
        outcome.last = (returned.record->status & HX_STREAM_STATUS_LAST) != 0;
        --lentNow;
        const uint32_t toCome = pass.range.count() > outcome.frames ? pass.range.count() - outcome.frames : 0;
        const bool relend = !outcome.last && lentNow < toCome;
        lentNow += relend ? 1 : 0;
        // The record is the writer's from the moment it is posted (it lends the buffer again).
        if (stats != nullptr) {
            stats->setPacketSize(client.packetSize());
            stats->add(*returned.record);
            bar->update(outcome.frames, stats->bytes(), stats->seconds());
        }
        writer.post([record = returned.record, relend, &options, &geometry, camera, &relent, range = pass.range,
                     written = pass.written]() -> uint64_t {
            const uint32_t id = record->frame_id;
            const bool wanted = id >= range.first && id <= range.last && written->count(id) == 0;
            const bool saved =
                wanted && StreamStats::complete(*record) && saveFrame(options.out, "download", *record, geometry);
            if (saved)
                written->insert(id);
            const uint64_t bytes = saved ? record->received_length : 0;
            if (relend && lendAgain(HX_download, StreamClient::instance().client(), camera, record) == HX_STATUS_OK)
                ++relent;
            return bytes;
        });
    }
    writer.finish();
    if (bar)
        bar->finish();
    // The buffers lent beyond the last frame come back unfilled once the library has ended the
    // download; the next download may lend them again only then.
    const uint32_t lent = static_cast<uint32_t>(pass.records.size()) + relent;
    const Clock::time_point sparesDeadline = Clock::now() + SPARES_TIMEOUT;
    while (returns < lent && client.next(sparesDeadline, returned)) {
        if (returned.record != nullptr && mine.count(returned.record) != 0)
            ++returns;
    }
    outcome.stillLent = lent - std::min(returns, lent);
    return outcome;
}

// Lends the pass's buffers, applies its range and starts it; OK, or the exit status.
int startDownload(HX_CAMERA_HANDLE camera, const StreamOptions& options, const DownloadPass& pass)
{
    StreamClient& client = StreamClient::instance();
    // Lent before the settings are applied, they only queue; the buffer-less call below starts.
    for (HX_READ_STREAM* record : pass.records) {
        if (HX_download(client.client(), camera, record) != HX_STATUS_OK) {
            std::fprintf(stderr, "hxcam: the library refused a download buffer\n");
            return FAILED;
        }
    }
    const auto buffers = static_cast<uint32_t>(pass.records.size());
    if (const int status = applyDownloadSettings(client.client(), camera, options, pass.range, buffers); status != OK)
        return status;
    if (HX_download(client.client(), camera, nullptr) != HX_STATUS_OK) {
        std::fprintf(stderr, "hxcam: could not start the download\n");
        return FAILED;
    }
    return OK;
}

// The runs of frames of `range` not yet written, neighbouring runs merged across small gaps. A
// download may not start at a recording's last frame, so a run of one frame starts a frame early
// (that frame, already written, is passed over).
std::vector<FrameRange> framesToFetch(FrameRange range, const std::set<uint32_t>& written)
{
    std::vector<FrameRange> runs;
    for (uint64_t id = range.first; id <= range.last; ++id) {
        const auto frame = static_cast<uint32_t>(id);
        if (written.count(frame) != 0)
            continue;
        if (!runs.empty() && frame - runs.back().last <= RETRY_MERGE_GAP + 1)
            runs.back().last = frame;
        else
            runs.push_back({frame, frame});
    }
    for (FrameRange& run : runs) {
        if (run.first == run.last && run.first > 0)
            --run.first;
    }
    return runs;
}

// What the passes after the first did.
struct Recovery {
    uint32_t frames = 0; // frames written by them
    uint32_t passes = 0;
    uint32_t failedStarts = 0;
};

// Fetches the frames not yet written again, pass after pass, until none is left, BARREN_PASSES
// passes in a row write none, or options.retries passes have run. `size` grows by a page whenever a download ended with
// buffers still lent or would not start: buffers of another size are new ones, so none is lent
// twice. A download that would not start (its acknowledges lost) only ends its run; the pass goes
// on with the next.
Recovery retryDownload(HX_CAMERA_HANDLE camera, const StreamOptions& options, FrameRange range, std::size_t size,
                       const FrameGeometry& geometry, std::set<uint32_t>& written, FrameWriter& writer)
{
    Recovery recovery;
    const std::size_t before = written.size();
    uint32_t barren = 0; // passes in a row that wrote nothing
    while (recovery.passes < options.retries && written.size() < range.count() && barren < BARREN_PASSES) {
        const std::size_t passStart = written.size();
        ++recovery.passes;
        for (const FrameRange run : framesToFetch(range, written)) {
            const uint32_t buffers = std::clamp<uint32_t>(run.count() + 2, 4, DOWNLOAD_BUFFERS);
            const DownloadPass pass{run, StreamClient::instance().buffers(buffers, size), &written};
            if (startDownload(camera, options, pass) != OK) {
                // Its buffers stay lent, queued with the library: the next run takes new ones.
                ++recovery.failedStarts;
                size += PAGE;
                continue;
            }
            if (receiveDownload(camera, options, pass, geometry, nullptr, writer).stillLent != 0)
                size += PAGE;
        }
        barren = written.size() == passStart ? barren + 1 : 0;
    }
    recovery.frames = static_cast<uint32_t>(written.size() - before);
    return recovery;
}

// The frames of `range` not written, as "3, 17, 40-42" (at most `most` runs named).
std::string missingFrames(FrameRange range, const std::set<uint32_t>& written, std::size_t most = 8)
{
    std::string text;
    std::size_t runs = 0;
    for (uint64_t id = range.first; id <= range.last; ++id) {
        const auto frame = static_cast<uint32_t>(id);
        if (written.count(frame) != 0)
            continue;
        uint32_t end = frame;
        while (end < range.last && written.count(end + 1) == 0)
            ++end;
        if (++runs > most) {
            text += ", ...";
            break;
        }
        text += (text.empty() ? "" : ", ") + std::to_string(frame) + (end != frame ? "-" + std::to_string(end) : "");
        id = end;
    }
    return text;
}

int runDownload(HX_CAMERA_HANDLE camera, const StreamOptions& options, std::FILE* out)
{
    StreamClient& client = StreamClient::instance();
    FrameGeometry geometry;
    if (!readGeometry(client.client(), camera, geometry) || !prepareDirectory(options.out))
        return FAILED;
    // A TIFF from the camera holds each pixel in one or two bytes beside its header.
    const std::size_t pixelBytes = std::size_t{geometry.width} * geometry.height * (geometry.depth == 8 ? 1 : 2);
    const std::size_t size = roundUp(pixelBytes + FILE_HEADER_ROOM, PAGE);
    const uint32_t buffers = options.buffers != 0 ? options.buffers : DOWNLOAD_BUFFERS;
    const FrameRange range{*options.from, *options.to};
    std::set<uint32_t> written;
    const DownloadPass pass{range, client.buffers(buffers, size), &written};
    if (const int status = startDownload(camera, options, pass); status != OK)
        return status;
    StreamStats stats(true);
    stats.expectRange(range.first, range.last);
    FrameWriter writer;
    const DownloadOutcome outcome = receiveDownload(camera, options, pass, geometry, &stats, writer);
    const auto firstPass = static_cast<uint32_t>(written.size());
    const bool started = !(outcome.released != 0 && outcome.frames == 0);
    const std::size_t retrySize = outcome.stillLent != 0 ? size + PAGE : size;
    const Recovery recovery =
        started ? retryDownload(camera, options, range, retrySize, geometry, written, writer) : Recovery{};
    std::fprintf(out, "download: %zu frames (%u to %u) in %s\n", written.size(), range.first, range.last,
                 options.out.c_str());
    if (firstPass < range.count() && started && options.retries != 0) {
        const uint32_t lost = range.count() - static_cast<uint32_t>(written.size());
        std::fprintf(out,
                     "download: %u of %u frames whole in the first pass; %u of the %u incomplete or missing "
                     "recovered in %u more pass%s%s",
                     firstPass, range.count(), recovery.frames, range.count() - firstPass, recovery.passes,
                     recovery.passes == 1 ? "" : "es", lost == 0 ? "; none lost\n" : "");
        if (lost != 0)
            std::fprintf(out, "; %u lost (%s)\n", lost, missingFrames(range, written).c_str());
        if (recovery.failedStarts != 0)
            std::fprintf(out, "download: %u of the retries would not start (see the log)\n", recovery.failedStarts);
    }
    if (options.stats) {
        stats.print(out);
        std::fprintf(out, "stats: written-frames=%llu written-bytes=%llu write-seconds=%.3f write-rate=%.2fMB/s\n",
                     static_cast<unsigned long long>(writer.written()), static_cast<unsigned long long>(writer.bytes()),
                     writer.busySeconds(), writer.megabytesPerSecond());
    }
    if (!started) {
        std::fprintf(stderr, "hxcam: the camera did not start the download (see the log)\n");
        return FAILED;
    }
    if (written.size() != range.count()) {
        uint32_t first = range.first;
        while (written.count(first) != 0)
            ++first;
        std::fprintf(stderr, "hxcam: %zu frames could not be downloaded whole (the first is frame %u)%s\n",
                     range.count() - written.size(), first,
                     outcome.last ? "" : "; the download did not reach its last frame");
        return FAILED;
    }
    return OK;
}

} // namespace

int streamOptionValues(const std::string& option)
{
    for (const OptionSpec& spec : OPTIONS) {
        if (option == spec.name)
            return spec.values;
    }
    return -1;
}

bool isStreamCommand(const std::vector<std::string>& words)
{
    return !words.empty() && (words.front() == "live" || words.front() == "download");
}

const char* streamUsage()
{
    return usageText;
}

int runStreamCommand(HX_CAMERA_HANDLE camera, const std::vector<std::string>& words, std::FILE* out)
{
    StreamOptions options;
    std::string error;
    if (!parse(words, options, error))
        return usageError(error);
    if (!StreamClient::instance().registered()) {
        std::fprintf(stderr, "hxcam: the library would not register a stream client\n");
        return FAILED;
    }
    return options.command == "live" ? runLive(camera, options, out) : runDownload(camera, options, out);
}

} // namespace hxcam
