// hxcam: the command-line tool that finds cameras and reads and changes their settings.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <hx/hx.h>

#include "camera_commands.h"
#include "capture_apply.h"
#include "capture_fields.h"
#include "record_fields.h"
#include "session.h"
#include "stream_commands.h"

namespace {

using namespace std::chrono_literals;

// Exit statuses a script can rely on.
enum Exit : int { OK = 0, USAGE = 1, FAILED = 2, REFUSED = 3 };

// hxcam's own output. The library logs on standard output; hxcam moves that to standard error at
// start, so what a script reads from hxcam's standard output is hxcam's alone.
FILE* out = stdout;

struct Options {
    std::vector<std::string> addresses;
    std::string camera;
    std::chrono::milliseconds wait{-1};
    bool trace = false;
    std::vector<std::string> words;
};

const char* const usageText =
    "usage: hxcam [options] COMMAND [ARGS...]\n"
    "\n"
    "Commands:\n"
    "  list                       the cameras discovery finds, and those given with --address\n"
    "  info                       the camera's identity\n"
    "  get capture                the camera's capture settings, one key=value per line\n"
    "  set capture KEY=VALUE...   change capture settings; prints the settings before and after\n"
    "\n"
    "Options:\n"
    "  -a, --address A   a camera by IPv4 address (asked directly, so it needs no broadcast)\n"
    "  -c, --camera C    the camera to work on: its user-defined name or its address\n"
    "  -w, --wait S      seconds to wait for cameras: list waits 3 for discovery unless\n"
    "                    --address is given; a camera is asked for up to 2 (by address)\n"
    "                    or 7 (by name) seconds before hxcam gives up\n"
    "      --trace       the library's trace lines (on standard error)\n"
    "  -h, --help        this text\n"
    "\n"
    "Capture settings:\n";

const char* const exitText =
    "\n"
    "Exit status: 0 done; 1 usage error; 2 camera not found or a call failed; 3 the camera\n"
    "refused some settings (each is named on standard error, the others were applied).\n"
    "Library log lines go to standard error. Run hxcam where the cameras are reachable; for the\n"
    "stand-in camera that is inside scripts/in-netns beside hxsim.\n";

void usage(FILE* stream)
{
    std::fprintf(stream, "%s%s\nStreams:\n%s\nCamera:\n%s%s", usageText, halvex::common::captureKeysHelp().c_str(),
                 hxcam::streamUsage(), hxcam::cameraUsage().c_str(), exitText);
}

int usageError(const std::string& text)
{
    std::fprintf(stderr, "hxcam: %s\n(hxcam --help shows the commands and options)\n", text.c_str());
    return USAGE;
}

bool parseSeconds(const char* text, std::chrono::milliseconds& wait)
{
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(seconds >= 0) || seconds > 3600) {
        return false;
    }
    wait = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    return true;
}

// Reads the options in front of and among the command words; false with a message on error.
int parseOptions(int argc, char** argv, Options& options, bool& help)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (word == "-h" || word == "--help") {
            help = true;
        } else if (word == "--trace") {
            options.trace = true;
        } else if ((word == "-a" || word == "--address") && hasValue) {
            options.addresses.push_back(argv[++i]);
        } else if ((word == "-c" || word == "--camera") && hasValue) {
            options.camera = argv[++i];
        } else if ((word == "-w" || word == "--wait") && hasValue) {
            if (!parseSeconds(argv[++i], options.wait)) {
                return usageError(std::string("--wait needs seconds, not '") + argv[i] + "'");
            }
        } else if (const int values = hxcam::streamOptionValues(word); values >= 0) {
            options.words.push_back(word);
            for (int n = 0; n < values && i + 1 < argc; ++n)
                options.words.push_back(argv[++i]);
        } else if (const int cameraValues = hxcam::cameraOptionValues(word); cameraValues >= 0) {
            options.words.push_back(word);
            for (int n = 0; n < cameraValues && i + 1 < argc; ++n)
                options.words.push_back(argv[++i]);
        } else if (!word.empty() && word[0] == '-') {
            return usageError("unknown option or missing value: " + word);
        } else {
            options.words.push_back(word);
        }
    }
    return OK;
}

void printInformation(const std::string& address, const HX_CAMERA_INFORMATION& info)
{
    std::fprintf(out,
                 "address=%s\nmodel=%s\nmanufacturer=%s\nfirmware=%s\nserial=%s\nname=%s\n"
                 "manufacturer-info=%s\nadapter=%s\n",
                 address.c_str(), info.model_name, info.manufacturer_name, info.device_version, info.serial_number,
                 info.user_name, info.manufacturer_info, info.adapter_name);
}

// How long a camera given by address may take to answer (one that is still starting, say).
std::chrono::milliseconds addressWait(const Options& options)
{
    return options.wait.count() >= 0 ? options.wait : std::chrono::milliseconds(2000);
}

int list(halvex::common::Session& session, const Options& options)
{
    int status = OK;
    std::map<HX_CAMERA_HANDLE, HX_CAMERA_INFORMATION> cameras;
    for (const std::string& address : options.addresses) {
        HX_CAMERA_HANDLE camera = 0;
        HX_CAMERA_INFORMATION info;
        HX_camera_information_init(&info, sizeof(info));
        if (!session.findCamera(address, addressWait(options), camera)) {
            // The library's log says whether some other camera answered there, and what it is.
            std::fprintf(stderr, "hxcam: no supported camera answers at %s\n", address.c_str());
            status = FAILED;
            continue;
        }
        // The camera answered its discovery request: what failed is the exchange after it, and the
        // library's log above says why (no free local ports, a camera that stopped answering...).
        if (HX_get_camera_information_syn(session.client(), camera, &info) != HX_STATUS_OK) {
            std::fprintf(stderr, "hxcam: could not read the identity of %s (see the log above)\n", address.c_str());
            status = FAILED;
            continue;
        }
        cameras[camera] = info;
    }
    const auto wait = options.wait.count() >= 0 ? options.wait : options.addresses.empty() ? 3000ms : 0ms;
    session.collect(wait);
    for (const auto& [camera, info] : session.discovered()) {
        cameras.emplace(camera, info);
    }
    std::fprintf(out, "%-15s  %-20s  %-12s  %-16s  %s\n", "ADDRESS", "MODEL", "SERIAL", "NAME", "FIRMWARE");
    for (const auto& [camera, info] : cameras) {
        std::fprintf(out, "%-15s  %-20s  %-12s  %-16s  %s\n", halvex::common::cameraAddress(camera).c_str(),
                     info.model_name, info.serial_number, info.user_name, info.device_version);
    }
    return status;
}

// The camera the command works on, from --camera or a single --address.
int chooseCamera(halvex::common::Session& session, const Options& options, HX_CAMERA_HANDLE& camera)
{
    std::string target = options.camera;
    if (target.empty() && options.addresses.size() == 1) {
        target = options.addresses.front();
    }
    if (target.empty()) {
        return usageError("choose a camera with --camera NAME|ADDRESS or --address ADDRESS");
    }
    const bool address = std::count(target.begin(), target.end(), '.') == 3 &&
                         target.find_first_not_of("0123456789.") == std::string::npos;
    const auto wait = address ? addressWait(options) : options.wait.count() >= 0 ? options.wait : 7000ms;
    if (!session.findCamera(target, wait, camera)) {
        std::fprintf(stderr, "hxcam: no camera '%s' found\n", target.c_str());
        return FAILED;
    }
    return OK;
}

int info(halvex::common::Session& session, HX_CAMERA_HANDLE camera)
{
    HX_CAMERA_INFORMATION information;
    HX_camera_information_init(&information, sizeof(information));
    if (HX_get_camera_information_syn(session.client(), camera, &information) != HX_STATUS_OK) {
        std::fprintf(stderr, "hxcam: could not read the identity of %s (see the log above)\n",
                     halvex::common::cameraAddress(camera).c_str());
        return FAILED;
    }
    printInformation(halvex::common::cameraAddress(camera), information);
    return OK;
}

void printCapture(const HX_CAPTURE_SETTINGS& record, const HX_CAPTURE_SETTINGS* requested = nullptr)
{
    for (const std::string& line : halvex::common::describeCapture(record, requested)) {
        std::fprintf(out, "%s\n", line.c_str());
    }
}

// Reading is a setup call that asks nothing to be set: the camera's values come back.
bool readCapture(halvex::common::Session& session, HX_CAMERA_HANDLE camera, HX_CAPTURE_SETTINGS& record)
{
    HX_capture_settings_init(&record, sizeof(record));
    if (HX_setup_capture_syn(session.client(), camera, &record, &record) != HX_STATUS_OK ||
        (record.flags & HX_FLAG_ERR) != 0) {
        std::fprintf(stderr, "hxcam: could not read the capture settings of %s\n",
                     halvex::common::cameraAddress(camera).c_str());
        return false;
    }
    return true;
}

int getCapture(halvex::common::Session& session, HX_CAMERA_HANDLE camera)
{
    HX_CAPTURE_SETTINGS record;
    if (!readCapture(session, camera, record)) {
        return FAILED;
    }
    printCapture(record);
    return OK;
}

int setCapture(halvex::common::Session& session, HX_CAMERA_HANDLE camera, const std::vector<std::string>& assignments)
{
    HX_CAPTURE_SETTINGS before;
    if (!readCapture(session, camera, before)) {
        return FAILED;
    }
    HX_CAPTURE_SETTINGS request = before;
    for (const std::string& assignment : assignments) {
        std::string error;
        if (!halvex::common::applyCaptureSetting(request, assignment, error)) {
            return usageError(error);
        }
    }
    std::fprintf(out, "# before\n");
    printCapture(before);
    HX_CAPTURE_SETTINGS after;
    if (!halvex::common::applyCapture(session.client(), camera, request, after)) {
        std::fprintf(stderr, "hxcam: the capture settings of %s could not be set\n",
                     halvex::common::cameraAddress(camera).c_str());
        return FAILED;
    }
    // A write that timed out marks the record and none of its fields (a refusal marks the field);
    // what the camera holds tells a lost acknowledge from a write that did not happen.
    std::vector<std::string> timedOut;
    std::size_t unconfirmed = 0;
    HX_CAPTURE_SETTINGS fresh;
    const bool writeFailed = (after.flags & HX_FLAG_ERR) != 0 && halvex::common::refusedFields(after, &request).empty();
    if (writeFailed && readCapture(session, camera, fresh)) {
        timedOut = halvex::common::appliedDespiteTimeout(after, request, fresh, unconfirmed);
    } else if (writeFailed) {
        unconfirmed = 1;
    }
    std::fprintf(out, "# after\n");
    printCapture(after, &request);
    return hxcam::reportWrite(timedOut, halvex::common::refusedFields(after, &request), writeFailed, unconfirmed);
}

// The command words name a command hxcam has, with the arguments it takes.
bool knownCommand(const std::vector<std::string>& words)
{
    const std::string& command = words.front();
    const bool capture = words.size() >= 2 && words[1] == "capture";
    return (command == "list" && words.size() == 1) || (command == "info" && words.size() == 1) ||
           (command == "get" && capture && words.size() == 2) || (command == "set" && capture && words.size() > 2) ||
           hxcam::isStreamCommand(words) || hxcam::isCameraCommand(words);
}

int runOnCamera(halvex::common::Session& session, const Options& options)
{
    const std::vector<std::string>& words = options.words;
    const std::string& command = words.front();
    HX_CAMERA_HANDLE camera = 0;
    if (const int status = chooseCamera(session, options, camera); status != OK) {
        return status;
    }
    if (command == "info") {
        return info(session, camera);
    }
    if (hxcam::isStreamCommand(words)) {
        return hxcam::runStreamCommand(camera, words, out);
    }
    if (hxcam::isCameraCommand(words)) {
        return hxcam::runCameraCommand(session.client(), camera, words, out);
    }
    if (command == "get") {
        return getCapture(session, camera);
    }
    return setCapture(session, camera, {words.begin() + 2, words.end()});
}

// Library lines go to standard error from here on; hxcam writes to the standard output it had.
void separateOutputs()
{
    const int own = dup(STDOUT_FILENO);
    if (own < 0) {
        return;
    }
    FILE* stream = fdopen(own, "w");
    if (stream == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        if (stream != nullptr) {
            std::fclose(stream);
        }
        return;
    }
    out = stream;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    bool help = false;
    if (const int status = parseOptions(argc, argv, options, help); status != OK) {
        return status;
    }
    if (help) {
        usage(stdout);
        return OK;
    }
    if (options.words.empty()) {
        return usageError("no command given");
    }
    if (!knownCommand(options.words)) {
        return usageError("unknown command or wrong arguments: " + options.words.front());
    }
    separateOutputs();
    int status = FAILED;
    {
        halvex::common::Session session(options.trace);
        if (!session.registered()) {
            std::fprintf(stderr, "hxcam: the library would not register a client\n");
        } else if (options.words.front() == "list") {
            status = list(session, options);
        } else {
            status = runOnCamera(session, options);
        }
    }
    std::fflush(out);
    return status;
}
