// hxview camera view.
#include "camera_view.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "capture_apply.h"
#include "capture_fields.h"
#include "frame_files.h"
#include "json_text.h"
#include "pixel_depth.h"
#include "session.h"

namespace hxview {
namespace {

// How long a request for the next live image waits before the page asks again.
constexpr auto kLiveWait = std::chrono::seconds(2);
// What a viewer records unless told otherwise: enough to catch an event, quick to look through.
constexpr double kDefaultRecordSeconds = 3;

double framesPerSecond(const HX_CAPTURE_SETTINGS& record)
{
    return static_cast<double>(record.rate) / std::max<uint32_t>(1, record.rate_divisor);
}

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f", value);
    return text;
}

Json::Value captureJson(const HX_CAPTURE_SETTINGS& record, const HX_CAPTURE_SETTINGS* requested)
{
    Json::Value fields(Json::arrayValue);
    for (const halvex::common::CaptureFieldView& view : halvex::common::captureFieldViews(record, requested)) {
        Json::Value field;
        field["key"] = view.key;
        field["value"] = view.value;
        field["limits"] = view.limits;
        if (view.hasRange) {
            field["min"] = view.min;
            field["max"] = view.max;
        }
        if (!view.choices.empty()) {
            field["choices"] = Json::Value(Json::arrayValue);
            for (const std::string& choice : view.choices)
                field["choices"].append(choice);
        }
        field["refused"] = view.refused;
        field["changed"] = view.changed;
        fields.append(field);
    }
    Json::Value json;
    json["fields"] = fields;
    return json;
}

Json::Value stateJson(const HX_COMMAND& state)
{
    Json::Value json;
    json["state"] = stateName(state.code);
    json["arm"] = (state.code_caps & HX_CMD_ARM) != 0;
    json["trigger"] = (state.code_caps & HX_CMD_TRIGGER) != 0;
    return json;
}

Reply jsonReply(const Json::Value& json)
{
    return Reply{200, writeJson(json)};
}

} // namespace

Reply errorReply(int status, const std::string& text)
{
    Json::Value json;
    json["error"] = text;
    return Reply{status, writeJson(json)};
}

std::string stateName(uint32_t code)
{
    switch (code) {
    case HX_CAMERA_STATE_IDLE: return "idle";
    case HX_CAMERA_STATE_ARM: return "armed";
    case HX_CAMERA_STATE_TRIGGER: return "recording";
    case HX_CAMERA_STATE_REVIEW: return "review";
    case HX_CAMERA_STATE_BUSY: return "busy";
    default: return "unknown";
    }
}

CameraView::CameraView(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, EventFeed& feed, std::string downloads)
    : client_(client), camera_(camera), feed_(feed), live_(client, camera), frames_(client, camera),
      download_(client, camera, feed), downloads_(std::move(downloads))
{
    HX_subscribe(client_, camera_);
}

void CameraView::stop()
{
    live_.stop();
    download_.join();
}

std::string CameraView::address() const
{
    return halvex::common::cameraAddress(camera_);
}

void CameraView::event(uint32_t event, void* data)
{
    Json::Value json;
    json["camera"] = address();
    switch (event) {
    case HX_LIVE_DATA: live_.returned(static_cast<HX_READ_STREAM*>(data)); return;
    case HX_PLAYBACK_DATA: frames_.returned(static_cast<HX_READ_STREAM*>(data)); return;
    case HX_DOWNLOAD_DATA: download_.returned(static_cast<HX_READ_STREAM*>(data)); return;
    case HX_STREAM_NEGOTIATION:
        if (data != nullptr)
            live_.negotiated(*static_cast<const int32_t*>(data));
        return;
    case HX_STATE:
        if (data == nullptr)
            return;
        json = stateJson(*static_cast<const HX_COMMAND*>(data));
        json["camera"] = address();
        json["type"] = "state";
        break;
    case HX_PROGRESS_UPDATE: {
        if (data == nullptr)
            return;
        const auto& progress = *static_cast<const HX_PROGRESS*>(data);
        json["type"] = "progress";
        json["recorded"] = progress.recorded_frames;
        json["total"] = progress.total_frames;
        json["triggerFrames"] = progress.trigger_frames;
        break;
    }
    case HX_CAPTURE_CHANGE: json["type"] = "capture"; break;
    default: return;
    }
    feed_.post(writeJson(json));
}

bool CameraView::readState(HX_COMMAND& state)
{
    HX_command_init(&state, sizeof(state));
    return HX_command_syn(client_, camera_, &state, &state) == HX_STATUS_OK && (state.flags & HX_FLAG_ERR) == 0;
}

bool CameraView::readCapture(HX_CAPTURE_SETTINGS& record)
{
    HX_capture_settings_init(&record, sizeof(record));
    return HX_setup_capture_syn(client_, camera_, &record, &record) == HX_STATUS_OK &&
           (record.flags & HX_FLAG_ERR) == 0;
}

bool CameraView::geometry(halvex::common::FrameGeometry& geometry, double& fps, std::string& error)
{
    HX_CAPTURE_SETTINGS record;
    if (!readCapture(record) || halvex::common::bitModeDepth(record.bit_mode) == 0) {
        error = "the image size of " + address() + " could not be read";
        return false;
    }
    geometry = {record.width, record.height, halvex::common::bitModeDepth(record.bit_mode)};
    fps = framesPerSecond(record);
    return true;
}

void CameraView::shortenRecording()
{
    HX_COMMAND state;
    HX_CAPTURE_SETTINGS record;
    if (!readState(state) || state.code != HX_CAMERA_STATE_IDLE || !readCapture(record) || record.length_max == 0 ||
        record.length < record.length_max)
        return;
    HX_CAPTURE_SETTINGS after;
    if (!recordSeconds(record, after))
        return;
    shortLength_ = true;
    feed_.post(
        writeJson(message("info", "the camera at " + address() + " now records about " + number(kDefaultRecordSeconds) +
                                      " s; change the record length to record more")));
}

// The camera keeps the share of its memory a recording takes when the frame size changes, so a
// smaller region would record for minutes: while the length is the viewer's, it stays a few
// seconds. `after` then shows the length the camera took.
void CameraView::keepRecordingShort(HX_CAPTURE_SETTINGS& after)
{
    const double seconds = after.length / std::max(1.0, framesPerSecond(after));
    HX_CAPTURE_SETTINGS record;
    if (seconds <= 2 * kDefaultRecordSeconds || !readCapture(record))
        return;
    HX_CAPTURE_SETTINGS shortened;
    if (recordSeconds(record, shortened)) {
        after.length = shortened.length;
        after.length_max = shortened.length_max;
    }
}

bool CameraView::recordSeconds(HX_CAPTURE_SETTINGS& record, HX_CAPTURE_SETTINGS& after)
{
    const auto frames = static_cast<uint32_t>(std::ceil(framesPerSecond(record) * kDefaultRecordSeconds));
    if (frames == 0 || frames >= record.length_max)
        return false;
    std::string error;
    return halvex::common::applyCaptureSetting(record, "length=" + std::to_string(frames), error) &&
           halvex::common::applyCapture(client_, camera_, record, after) && (after.length_flags & HX_FLAG_ERR) == 0;
}

Reply CameraView::state()
{
    HX_COMMAND state;
    if (!readState(state))
        return errorReply(503, "the camera at " + address() + " did not answer");
    Json::Value json = stateJson(state);
    json["live"] = live_.running();
    HX_PLAYBACK_SETTINGS playback;
    HX_playback_settings_init(&playback, sizeof(playback));
    HX_CAPTURE_SETTINGS record;
    if (state.code == HX_CAMERA_STATE_REVIEW &&
        HX_setup_playback_syn(client_, camera_, &playback, &playback) == HX_STATUS_OK) {
        json["frames"] = playback.current_frame_max + 1;
        // A frame's time is its distance from the trigger at the rate it was recorded with.
        json["triggerFrame"] = playback.trigger;
        if (readCapture(record))
            json["fps"] = framesPerSecond(record);
    }
    return jsonReply(json);
}

Reply CameraView::capture()
{
    HX_CAPTURE_SETTINGS record;
    if (!readCapture(record))
        return errorReply(503, "the capture settings of " + address() + " could not be read");
    return jsonReply(captureJson(record, nullptr));
}

Reply CameraView::setCapture(const std::vector<std::string>& assignments)
{
    HX_CAPTURE_SETTINGS request;
    if (!readCapture(request))
        return errorReply(503, "the capture settings of " + address() + " could not be read");
    for (const std::string& assignment : assignments) {
        std::string error;
        if (!halvex::common::applyCaptureSetting(request, assignment, error))
            return errorReply(400, error);
    }
    HX_CAPTURE_SETTINGS after;
    if (!halvex::common::applyCapture(client_, camera_, request, after))
        return errorReply(503, "the capture settings of " + address() + " could not be set");
    const bool lengthAsked = std::any_of(assignments.begin(), assignments.end(), [](const std::string& assignment) {
        return assignment.rfind("length=", 0) == 0;
    });
    if (lengthAsked)
        shortLength_ = false;
    else if (shortLength_)
        keepRecordingShort(after);
    halvex::common::FrameGeometry frame;
    double fps = 0;
    std::string error;
    if (live_.running() && geometry(frame, fps, error))
        live_.start(frame, fps, error);
    Json::Value json = captureJson(after, &request);
    const std::vector<std::string> refused = halvex::common::refusedFields(after, &request);
    for (const std::string& field : refused)
        json["refused"].append(field);
    if ((after.flags & HX_FLAG_ERR) != 0 && refused.empty())
        json["warning"] = "the camera did not confirm the settings";
    return jsonReply(json);
}

Reply CameraView::command(const std::string& name)
{
    if (name == "arm") {
        // The camera leaves live for a recording; the viewer stops lending live buffers first.
        live_.stop();
        return sendCommand(HX_CMD_ARM);
    }
    if (name == "trigger")
        return sendCommand(HX_CMD_TRIGGER);
    if (name == "stop")
        return sendCommand(HX_CMD_LIVE);
    return errorReply(404, "no command '" + name + "' (arm, trigger, stop)");
}

Reply CameraView::sendCommand(uint32_t code)
{
    HX_COMMAND before;
    if (!readState(before))
        return errorReply(503, "the camera at " + address() + " did not answer");
    if ((code == HX_CMD_ARM || code == HX_CMD_TRIGGER) && (before.code_caps & code) == 0)
        return errorReply(409, "the camera does not offer that in state " + stateName(before.code));
    HX_COMMAND in;
    HX_command_init(&in, sizeof(in));
    in.flags = HX_FLAG_SET;
    in.code = code;
    in.code_flags = HX_FLAG_SET;
    HX_COMMAND after = in;
    if (HX_command_syn(client_, camera_, &in, &after) != HX_STATUS_OK ||
        ((after.code_flags | after.flags) & HX_FLAG_ERR) != 0)
        return errorReply(503, "the camera did not confirm the command");
    return state();
}

Reply CameraView::setLive(bool on)
{
    if (!on) {
        live_.stop();
        return state();
    }
    halvex::common::FrameGeometry frame;
    double fps = 0;
    std::string error;
    if (!geometry(frame, fps, error) || !live_.start(frame, fps, error))
        return errorReply(503, error);
    return state();
}

Reply CameraView::liveImage(uint64_t after)
{
    LiveFeed::Frame frame;
    // No image yet is no error: the page asks again, or stops when live is off.
    if (!live_.newest(after, std::chrono::steady_clock::now() + kLiveWait, frame)) {
        Reply none{204, "", "text/plain"};
        none.headers.emplace_back("X-Live", live_.running() ? "on" : "off");
        return none;
    }
    Reply reply = pixelsReply(frame.bytes, frame.geometry);
    reply.headers.emplace_back("X-Sequence", std::to_string(frame.sequence));
    reply.headers.emplace_back("X-Frame", std::to_string(frame.frameId));
    reply.headers.emplace_back("X-Rate", number(frame.megabytesPerSecond));
    reply.headers.emplace_back("X-Received-Fps", number(frame.receivedFps));
    reply.headers.emplace_back("X-Camera-Fps", number(frame.cameraFps));
    reply.headers.emplace_back("X-Lost-Packets", std::to_string(frame.lostPackets));
    reply.headers.emplace_back("X-Incomplete-Frames", std::to_string(frame.incompleteFrames));
    return reply;
}

Reply CameraView::recordedImage(uint32_t frame)
{
    halvex::common::FrameGeometry shape;
    double fps = 0;
    std::string error;
    std::vector<uint8_t> bytes;
    if (!geometry(shape, fps, error) || !frames_.fetch(frame, shape, bytes, error))
        return errorReply(409, error);
    Reply reply = pixelsReply(bytes, shape);
    reply.headers.emplace_back("X-Frame", std::to_string(frame));
    return reply;
}

Reply CameraView::liveSnapshot(uint64_t sequence)
{
    LiveFeed::Frame frame;
    if (!live_.recent(sequence, frame))
        return errorReply(410, "live image " + std::to_string(sequence) + " has gone; take the snapshot again");
    return tiffReply(frame.bytes, frame.geometry, "live-" + std::to_string(frame.frameId));
}

Reply CameraView::recordedSnapshot(uint32_t frame)
{
    halvex::common::FrameGeometry shape;
    double fps = 0;
    std::string error;
    std::vector<uint8_t> bytes;
    if (!geometry(shape, fps, error) || !frames_.fetch(frame, shape, bytes, error))
        return errorReply(409, error);
    return tiffReply(bytes, shape, "review-" + std::to_string(frame));
}

Reply CameraView::pixelsReply(const std::vector<uint8_t>& frame, const halvex::common::FrameGeometry& geometry)
{
    std::vector<uint8_t> samples;
    std::string error;
    if (!halvex::common::unpackPixels(frame.data(), frame.size(), geometry, samples, error))
        return errorReply(500, error);
    Reply reply{200, std::string(samples.begin(), samples.end()), "application/octet-stream"};
    reply.headers.emplace_back("X-Width", std::to_string(geometry.width));
    reply.headers.emplace_back("X-Height", std::to_string(geometry.height));
    reply.headers.emplace_back("X-Depth", std::to_string(geometry.depth));
    return reply;
}

// A camera that sends TIFF files has its own file passed on as it came.
Reply CameraView::tiffReply(const std::vector<uint8_t>& frame, const halvex::common::FrameGeometry& geometry,
                            const std::string& name)
{
    std::vector<uint8_t> tiff;
    std::string error;
    if (halvex::common::sniffContent(frame.data(), frame.size()) == halvex::common::Content::Tiff)
        tiff = frame;
    else if (!halvex::common::pixelsAsTiff(frame.data(), frame.size(), geometry, tiff, error))
        return errorReply(500, error);
    Reply reply{200, std::string(tiff.begin(), tiff.end()), "image/tiff"};
    reply.headers.emplace_back("Content-Disposition", "attachment; filename=\"" + name + ".tif\"");
    return reply;
}

Reply CameraView::download(uint32_t from, uint32_t to)
{
    halvex::common::FrameGeometry shape;
    double fps = 0;
    std::string error;
    std::error_code made;
    std::filesystem::create_directories(downloads_, made);
    if (made)
        return errorReply(409, "cannot create " + downloads_ + ": " + made.message());
    FrameDownload::Sink sink;
    sink.place = std::filesystem::absolute(downloads_).string();
    sink.frame = [directory = downloads_](uint32_t frameId, const std::vector<uint8_t>& tiff, std::string& problem) {
        const std::string path = halvex::common::framePath(directory, "frame", frameId, "tif");
        // A file that cannot be written is reported; the next may still be.
        return halvex::common::writeBytes(path, tiff.data(), tiff.size(), problem) ? FrameDownload::Saved::Yes
                                                                                   : FrameDownload::Saved::No;
    };
    sink.end = [](const std::string&) {};
    if (!geometry(shape, fps, error) || !download_.start(from, to, shape, std::move(sink), error))
        return errorReply(409, error);
    return Reply{200, download_.status()};
}

std::shared_ptr<halvex::hxview::ZipDownload> CameraView::zipDownload(uint32_t from, uint32_t to, Reply& refusal)
{
    halvex::common::FrameGeometry shape;
    double fps = 0;
    std::string error;
    auto zip = std::make_shared<halvex::hxview::ZipDownload>("frame");
    FrameDownload::Sink sink;
    sink.place = "the browser";
    sink.frame = [zip](uint32_t frameId, const std::vector<uint8_t>& tiff, std::string& problem) {
        return zip->add(frameId, tiff, problem) ? FrameDownload::Saved::Yes : FrameDownload::Saved::Refused;
    };
    sink.end = [zip](const std::string& outcome) { zip->end(outcome); };
    if (!geometry(shape, fps, error) || !download_.start(from, to, shape, std::move(sink), error)) {
        refusal = errorReply(409, error);
        return nullptr;
    }
    return zip;
}

Reply CameraView::downloadStatus()
{
    return Reply{200, download_.status()};
}

} // namespace hxview
