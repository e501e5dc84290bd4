// hxcam camera commands: the recording state machine, in-camera playback, the event watch, and
// the settings records other than capture.
#include "camera_commands.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>

#include "read_retry.h"
#include "record_fields.h"
#include "watch_events.h"

namespace hxcam {
namespace {

// hxcam's exit statuses (see main.cpp).
enum Exit : int { OK = 0, USAGE = 1, FAILED = 2, REFUSED = 3 };

struct OptionSpec {
    const char* name;
    int values;
};
constexpr OptionSpec OPTIONS[] = {{"--count", 1}, {"--seconds", 1},  {"--frame", 1},   {"--from", 1},
                                  {"--to", 1},    {"--interval", 1}, {"--reverse", 0}, {"--pause", 0}};

const char* const usageText =
    "  state                      the camera state and the commands it allows\n"
    "  arm | trigger              arm the recorder, or trigger the armed recorder; prints the state\n"
    "  stop                       end what the camera does: pause its playback, or leave a recording\n"
    "                             that is armed or triggered (the camera goes back to idle)\n"
    "  play [--from A] [--to B] [--frame F] [--interval N] [--reverse]\n"
    "                             play the recording in the camera from frame F (default A) over\n"
    "                             frames A to B (default all); --pause [--frame F] pauses, or shows\n"
    "                             frame F\n"
    "  watch [--count N] [--seconds S]\n"
    "                             the camera's events, one line each, until N events, S seconds or\n"
    "                             an interrupt\n"
    "  get io|download|lens|stream|gain\n"
    "                             those settings, one key=value per line\n"
    "  set io|download|lens|stream|gain KEY=VALUE...\n"
    "                             change them; prints the settings before and after\n";

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int)
{
    interrupted = 1;
}

int usageError(const std::string& text)
{
    std::fprintf(stderr, "hxcam: %s\n(hxcam --help shows the commands and options)\n", text.c_str());
    return USAGE;
}

int failed(const std::string& text)
{
    std::fprintf(stderr, "hxcam: %s\n", text.c_str());
    return FAILED;
}

// The options after the command words, by name; the remaining words in `rest`.
bool parseOptions(const std::vector<std::string>& words, std::size_t first, std::map<std::string, std::string>& options,
                  std::vector<std::string>& rest, std::string& error)
{
    for (std::size_t i = first; i < words.size(); ++i) {
        const int values = cameraOptionValues(words[i]);
        if (values < 0) {
            if (!words[i].empty() && words[i][0] == '-') {
                error = "unknown option " + words[i];
                return false;
            }
            rest.push_back(words[i]);
        } else if (values == 0) {
            options[words[i]] = "";
        } else if (i + 1 < words.size()) {
            options[words[i]] = words[i + 1];
            ++i;
        } else {
            error = words[i] + " needs a value";
            return false;
        }
    }
    return true;
}

bool parsedNumber(const std::map<std::string, std::string>& options, const char* name, uint32_t& value,
                  std::string& error)
{
    const auto found = options.find(name);
    if (found == options.end())
        return true;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(found->second.c_str(), &end, 10);
    if (found->second.empty() || found->second[0] == '-' || *end != '\0' || parsed > 0xFFFFFFFFull) {
        error = std::string(name) + " needs a number, not '" + found->second + "'";
        return false;
    }
    value = static_cast<uint32_t>(parsed);
    return true;
}

// --- State and commands --------------------------------------------------------------------

// A state read the library could not complete leaves the record without a state bit (an
// unrecognised camera, or one whose acknowledges were lost) or marks it refused: neither is a state.
bool readState(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_COMMAND& state)
{
    return readWithRetries([&] {
        HX_COMMAND in;
        HX_command_init(&in, sizeof(in));
        state = in;
        return HX_command_syn(client, camera, &in, &state) == HX_STATUS_OK && (state.flags & HX_FLAG_ERR) == 0 &&
               state.code != 0;
    });
}

int stateUnreadable()
{
    return failed("the camera state could not be read: the camera did not answer in time, or is not one the "
                  "library recognises (see the log above)");
}

void printState(std::FILE* out, const HX_COMMAND& state)
{
    std::fprintf(out, "state=%s\ncommands=%s\n", stateName(state.code).c_str(), commandNames(state.code_caps).c_str());
}

// A command the state before it allowed and that still came back marked did not fail on the
// camera's refusal but on the exchange: it timed out, and the camera may or may not have followed.
int sendCommand(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t code, std::FILE* out)
{
    HX_COMMAND before;
    if (!readState(client, camera, before))
        return stateUnreadable();
    HX_COMMAND in;
    HX_command_init(&in, sizeof(in));
    in.flags = HX_FLAG_SET;
    in.code = code;
    in.code_flags = HX_FLAG_SET;
    // The library reports a command the camera has not followed yet as sent; the tool refuses one
    // the camera's state does not offer before sending it.
    if ((code == HX_CMD_ARM || code == HX_CMD_TRIGGER) && (before.code_caps & code) == 0) {
        printState(out, before);
        std::fprintf(stderr, "hxcam: the camera did not follow the command in state %s: it does not offer it\n",
                     stateName(before.code).c_str());
        return REFUSED;
    }
    HX_COMMAND after = in;
    if (HX_command_syn(client, camera, &in, &after) != HX_STATUS_OK)
        return failed("the command could not be sent to the camera");
    HX_COMMAND state;
    if (!readState(client, camera, state))
        return stateUnreadable();
    printState(out, state);
    const bool marked = (after.code_flags & HX_FLAG_ERR) != 0 || (after.flags & HX_FLAG_ERR) != 0;
    if (marked && (before.code_caps & code) == 0) {
        std::fprintf(stderr, "hxcam: the camera did not follow the command in state %s (see the log above)\n",
                     stateName(before.code).c_str());
        return REFUSED;
    }
    if (marked) {
        std::fprintf(stderr,
                     "hxcam: timed out: the camera did not confirm the command; it is now %s (see the log "
                     "above)\n",
                     stateName(state.code).c_str());
        return FAILED;
    }
    return OK;
}

// --- Playback -------------------------------------------------------------------------------

bool readPlayback(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_PLAYBACK_SETTINGS& playback)
{
    return readWithRetries([&] {
        HX_playback_settings_init(&playback, sizeof(playback));
        return HX_setup_playback_syn(client, camera, &playback, &playback) == HX_STATUS_OK;
    });
}

void printPlayback(std::FILE* out, const HX_PLAYBACK_SETTINGS& playback)
{
    std::fprintf(out, "%s\n", formatEvent(HX_PLAYBACK_CHANGE, 0, &playback).c_str());
}

int setPlayback(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_PLAYBACK_SETTINGS& request, std::FILE* out)
{
    if (HX_setup_playback_syn(client, camera, &request, &request) != HX_STATUS_OK)
        return failed("the playback could not be set");
    printPlayback(out, request);
    if ((request.flags & HX_FLAG_ERR) != 0) {
        std::fprintf(stderr, "hxcam: the camera refused the playback (it plays a recording in review only)\n");
        return REFUSED;
    }
    return OK;
}

int play(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const std::map<std::string, std::string>& options,
         std::FILE* out)
{
    HX_PLAYBACK_SETTINGS request;
    if (!readPlayback(client, camera, request))
        return failed("the playback settings could not be read");
    uint32_t from = 0, to = request.current_frame_max, interval = 1, frame = ~0u;
    std::string error;
    if (!parsedNumber(options, "--from", from, error) || !parsedNumber(options, "--to", to, error) ||
        !parsedNumber(options, "--interval", interval, error) || !parsedNumber(options, "--frame", frame, error))
        return usageError(error);
    request.flags = HX_FLAG_SET;
    request.mode_flags = HX_FLAG_SET;
    request.interval = interval;
    if (options.count("--pause") != 0) {
        // Paused already, a frame is a step to it; otherwise the playback stops where it is.
        request.mode = HX_PLAY_PAUSE;
        if (frame != ~0u) {
            request.current_frame = frame;
            request.current_frame_flags = HX_FLAG_SET;
        }
        return setPlayback(client, camera, request, out);
    }
    request.mode = options.count("--reverse") != 0 ? HX_PLAY_REVERSE : HX_PLAY_FORWARD;
    request.cut_in = from;
    request.cut_in_flags = HX_FLAG_SET;
    request.cut_out = to;
    request.cut_out_flags = HX_FLAG_SET;
    request.current_frame = frame != ~0u ? frame : from;
    request.current_frame_flags = HX_FLAG_SET;
    return setPlayback(client, camera, request, out);
}

int stop(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, std::FILE* out)
{
    HX_COMMAND state;
    if (!readState(client, camera, state))
        return stateUnreadable();
    if (state.code == HX_CAMERA_STATE_ARM || state.code == HX_CAMERA_STATE_TRIGGER)
        return sendCommand(client, camera, HX_CMD_LIVE, out);
    HX_PLAYBACK_SETTINGS playback;
    if (state.code == HX_CAMERA_STATE_REVIEW && readPlayback(client, camera, playback) &&
        playback.mode != HX_PLAY_PAUSE) {
        playback.flags = HX_FLAG_SET;
        playback.mode = HX_PLAY_PAUSE;
        playback.mode_flags = HX_FLAG_SET;
        return setPlayback(client, camera, playback, out);
    }
    printState(out, state);
    return OK;
}

// --- Watch ----------------------------------------------------------------------------------

int watch(HX_CAMERA_HANDLE camera, const std::map<std::string, std::string>& options, std::FILE* out)
{
    uint32_t count = 0, seconds = 0;
    std::string error;
    if (!parsedNumber(options, "--count", count, error) || !parsedNumber(options, "--seconds", seconds, error))
        return usageError(error);
    static EventQueue queue; // the library may call back until it shuts down, after this returns
    HX_CLIENT_HANDLE watcher = 0;
    if (HX_register(&watcher, &EventQueue::onEvent, &queue) != HX_STATUS_OK)
        return failed("the library would not register a client for the events");
    if (HX_subscribe(watcher, camera) != HX_STATUS_OK) {
        HX_unregister(watcher);
        return failed("the camera's events could not be subscribed to");
    }
    interrupted = 0;
    const auto previous = std::signal(SIGINT, onInterrupt);
    const auto start = std::chrono::steady_clock::now();
    const auto end =
        seconds != 0 ? start + std::chrono::seconds(seconds) : std::chrono::steady_clock::time_point::max();
    uint32_t shown = 0;
    while (interrupted == 0 && (count == 0 || shown < count) && std::chrono::steady_clock::now() < end) {
        // Short waits, so that an interrupt is noticed soon.
        const auto until = std::min(end, std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
        if (const std::optional<std::string> line = queue.next(until)) {
            std::fprintf(out, "%s\n", line->c_str());
            std::fflush(out);
            ++shown;
        }
    }
    std::signal(SIGINT, previous);
    HX_unsubscribe(watcher, camera);
    HX_unregister(watcher);
    return OK;
}

// --- Settings records -----------------------------------------------------------------------

bool readRecordOnce(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, AnyRecord& record)
{
    switch (record.kind) {
    case RecordKind::Io: return HX_setup_io_syn(client, camera, &record.io, &record.io) == HX_STATUS_OK;
    case RecordKind::Download:
        return HX_setup_download_syn(client, camera, &record.download, &record.download) == HX_STATUS_OK;
    case RecordKind::Stream: return HX_setup_stream_syn(client, camera, &record.stream, &record.stream) == HX_STATUS_OK;
    default: return HX_analog_gain(client, camera, nullptr, &record.gain) == HX_STATUS_OK;
    }
}

// Each try starts from the record as asked, so a failed read's leftovers are never written.
bool readRecord(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, AnyRecord& record)
{
    const AnyRecord asked = record;
    return readWithRetries([&] {
        record = asked;
        return readRecordOnce(client, camera, record);
    });
}

bool writeRecord(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, AnyRecord& request, AnyRecord& after)
{
    switch (request.kind) {
    case RecordKind::Io: return HX_setup_io_syn(client, camera, &request.io, &after.io) == HX_STATUS_OK;
    case RecordKind::Download:
        return HX_setup_download_syn(client, camera, &request.download, &after.download) == HX_STATUS_OK;
    case RecordKind::Stream: return HX_setup_stream_syn(client, camera, &request.stream, &after.stream) == HX_STATUS_OK;
    default: {
        // The gain comes back in a second record; a refusal is marked in the request.
        const bool done = HX_analog_gain(client, camera, &request.gain, &after.gain) == HX_STATUS_OK;
        after.gain.flags |= request.gain.flags & (HX_FLAG_SET | HX_FLAG_ERR);
        if ((request.gain.flags & HX_FLAG_ERR) == 0 && after.gain.gain != request.gain.gain)
            after.gain.flags |= HX_FLAG_CHG;
        return done;
    }
    }
}

void printLines(std::FILE* out, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        std::fprintf(out, "%s\n", line.c_str());
}

// A lens call fails on a family without lens control and on a camera that does not answer; only
// the state read tells them apart.
int lensFailure(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const char* what)
{
    HX_COMMAND state;
    if (!readState(client, camera, state))
        return failed(std::string(what) + ": the camera did not answer in time, or is not one the library "
                                          "recognises (see the log above)");
    return failed(std::string(what) + " (this camera family has no lens control)");
}

int getLens(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, std::FILE* out)
{
    HX_LENS_STATUS lens;
    HX_lens_status_init(&lens, sizeof(lens));
    if (HX_get_lens_status(client, camera, &lens) != HX_STATUS_OK)
        return lensFailure(client, camera, "the camera reports no lens");
    std::fprintf(out, "connected=%u\npowered=%u\nname=%s\nfocus=%u\nzoom=%u\naperture=%u/%u\n", lens.connected,
                 lens.powered, lens.name, lens.focus_pos, lens.zoom_pos, lens.f_number_num, lens.f_number_den);
    return OK;
}

int setLens(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const std::vector<std::string>& assignments)
{
    HX_LENS_SETTINGS lens;
    HX_lens_settings_init(&lens, sizeof(lens));
    const std::map<std::string, std::pair<uint32_t*, uint32_t*>> keys{
        {"focus", {&lens.focus_pos, &lens.focus_pos_flags}},
        {"zoom", {&lens.zoom_pos, &lens.zoom_pos_flags}},
        {"power", {&lens.power, &lens.power_flags}}};
    for (const std::string& assignment : assignments) {
        const std::size_t equals = assignment.find('=');
        const auto key = keys.find(assignment.substr(0, equals));
        std::map<std::string, std::string> value{
            {"value", equals == std::string::npos ? "" : assignment.substr(equals + 1)}};
        std::string error;
        uint32_t number = 0;
        if (key == keys.end() || value["value"].empty() || !parsedNumber(value, "value", number, error))
            return usageError("'" + assignment + "' is not KEY=NUMBER with KEY focus, zoom or power");
        *key->second.first = number;
        *key->second.second |= HX_FLAG_SET;
    }
    lens.flags |= HX_FLAG_SET;
    if (HX_setup_lens_syn(client, camera, &lens) != HX_STATUS_OK)
        return lensFailure(client, camera, "the lens settings could not be set");
    return OK;
}

int getRecord(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, RecordKind kind, std::FILE* out)
{
    AnyRecord record = emptyRecord(kind);
    if (!readRecord(client, camera, record))
        return failed("the settings could not be read");
    printLines(out, describe(record));
    return OK;
}

int setRecord(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, RecordKind kind,
              const std::vector<std::string>& assignments, std::FILE* out)
{
    AnyRecord before = emptyRecord(kind);
    if (!readRecord(client, camera, before))
        return failed("the settings could not be read");
    AnyRecord request = before;
    for (const std::string& assignment : assignments) {
        std::string error;
        if (!applySetting(request, assignment, error))
            return usageError(error);
    }
    std::fprintf(out, "# before\n");
    printLines(out, describe(before));
    const AnyRecord asked = request; // the call writes the camera's values into the request
    AnyRecord after = request;
    if (!writeRecord(client, camera, request, after))
        return failed("the settings could not be set");
    // A write that failed as a whole (an acknowledge lost, or the camera's error) is read back:
    // what the camera holds tells a lost acknowledge from a write that did not happen.
    const bool failedWrite = writeFailed(after);
    std::vector<std::string> timedOut;
    std::size_t unconfirmed = 0;
    AnyRecord fresh = emptyRecord(kind);
    if (failedWrite && readRecord(client, camera, fresh))
        timedOut = appliedDespiteFailure(after, asked, fresh, unconfirmed);
    else if (failedWrite)
        unconfirmed = 1;
    std::fprintf(out, "# after\n");
    printLines(out, describe(after));
    return reportWrite(timedOut, failedWrite ? std::vector<std::string>{} : refusedFields(after, asked), failedWrite,
                       unconfirmed);
}

int getOrSet(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const std::vector<std::string>& words, std::FILE* out)
{
    const bool set = words[0] == "set";
    const std::vector<std::string> assignments(words.begin() + 2, words.end());
    if (set && assignments.empty())
        return usageError("set " + words[1] + " needs KEY=VALUE settings");
    if (!set && !assignments.empty())
        return usageError("get " + words[1] + " takes no settings");
    if (words[1] == "lens")
        return set ? setLens(client, camera, assignments) : getLens(client, camera, out);
    RecordKind kind = RecordKind::Io;
    recordKind(words[1], kind);
    return set ? setRecord(client, camera, kind, assignments, out) : getRecord(client, camera, kind, out);
}

} // namespace

int cameraOptionValues(const std::string& option)
{
    for (const OptionSpec& spec : OPTIONS)
        if (option == spec.name)
            return spec.values;
    return -1;
}

bool isCameraCommand(const std::vector<std::string>& words)
{
    if (words.empty())
        return false;
    const std::string& command = words.front();
    if (command == "get" || command == "set") {
        RecordKind kind;
        return words.size() >= 2 && (words[1] == "lens" || recordKind(words[1], kind));
    }
    return command == "state" || command == "arm" || command == "trigger" || command == "stop" || command == "play" ||
           command == "watch";
}

std::string cameraUsage()
{
    return std::string(usageText) + "\nSettings keys (set KIND KEY=VALUE; N is a number):\n" + recordKeysHelp() +
           "  lens:     focus=N zoom=N power=N\n";
}

int runCameraCommand(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const std::vector<std::string>& words,
                     std::FILE* out)
{
    const std::string& command = words.front();
    if (command == "get" || command == "set")
        return getOrSet(client, camera, words, out);
    std::map<std::string, std::string> options;
    std::vector<std::string> rest;
    std::string error;
    if (!parseOptions(words, 1, options, rest, error))
        return usageError(error);
    if (!rest.empty())
        return usageError(command + " takes no argument '" + rest.front() + "'");
    if (command == "play")
        return play(client, camera, options, out);
    if (command == "watch")
        return watch(camera, options, out);
    if (!options.empty())
        return usageError(command + " takes no options");
    if (command == "arm")
        return sendCommand(client, camera, HX_CMD_ARM, out);
    if (command == "trigger")
        return sendCommand(client, camera, HX_CMD_TRIGGER, out);
    if (command == "stop")
        return stop(client, camera, out);
    HX_COMMAND state;
    if (!readState(client, camera, state))
        return stateUnreadable();
    printState(out, state);
    return OK;
}

} // namespace hxcam
