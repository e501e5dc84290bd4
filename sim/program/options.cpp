// Command-line parsing of the hxsim executable.
#include "sim/program/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>

#include <fmt/format.h>

#include "sim/net/cluster.h"
#include "sim/program/scenario.h"

namespace hxsim {
namespace {

template <typename Number>
std::optional<Number> parseNumber(std::string_view text)
{
    Number value{};
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> parseReal(std::string_view text)
{
    try {
        std::size_t used = 0;
        const std::string copy(text);
        const double value = std::stod(copy, &used);
        return used == copy.size() && std::isfinite(value) ? std::optional(value) : std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
}

std::string setProbability(ChannelFaults& channel, std::string_view kind, double value)
{
    const std::map<std::string_view, double ChannelFaults::*> kinds{{"drop", &ChannelFaults::drop},
                                                                    {"delay", &ChannelFaults::delay},
                                                                    {"duplicate", &ChannelFaults::duplicate},
                                                                    {"reorder", &ChannelFaults::reorder},
                                                                    {"corrupt", &ChannelFaults::corrupt},
                                                                    {"wrong-index", &ChannelFaults::wrongIndex},
                                                                    {"error-status", &ChannelFaults::errorStatus}};
    if (kind == "delay-min-ms" || kind == "delay-max-ms") {
        if (value < 0 || value > 3600e3) {
            return fmt::format("{} must be 0 to 3600000 ms", kind);
        }
        (kind == "delay-min-ms" ? channel.delayMin : channel.delayMax) = milliseconds(static_cast<uint64_t>(value));
        return {};
    }
    const auto found = kinds.find(kind);
    if (found == kinds.end()) {
        return fmt::format("unknown fault '{}'", kind);
    }
    if (!(value >= 0 && value <= 1)) {
        return fmt::format("fault {} needs a probability from 0 to 1, not {}", kind, value);
    }
    channel.*(found->second) = value;
    return {};
}

} // namespace

std::optional<uint64_t> parseMemorySize(std::string_view text)
{
    uint64_t unit = uint64_t{1} << 20;
    if (!text.empty() && (text.back() == 'G' || text.back() == 'g')) {
        unit = uint64_t{1} << 30;
        text.remove_suffix(1);
    } else if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) {
        text.remove_suffix(1);
    }
    const auto count = parseNumber<uint64_t>(text);
    if (!count || *count > (uint64_t{1} << 20)) {
        return std::nullopt;
    }
    return *count * unit;
}

std::string applyFault(FaultConfig& faults, std::string_view setting)
{
    const auto dot = setting.find('.');
    const auto equals = setting.find('=');
    if (dot == std::string_view::npos || equals == std::string_view::npos || equals < dot) {
        return fmt::format("fault '{}' is not CHANNEL.KIND=VALUE", setting);
    }
    const std::string_view channel = setting.substr(0, dot);
    std::string kind(setting.substr(dot + 1, equals - dot - 1));
    std::replace(kind.begin(), kind.end(), '_', '-');
    const auto value = parseReal(setting.substr(equals + 1));
    if (!value) {
        return fmt::format("fault '{}' needs a number", setting);
    }
    if (channel == "stream") {
        return applyStreamFault(faults.stream, kind, *value);
    }
    const std::map<std::string_view, std::vector<FaultChannel>> channels{
        {"control", {FaultChannel::Control}},
        {"events", {FaultChannel::Events}},
        {"discovery", {FaultChannel::Discovery}},
        {"all", {FaultChannel::Control, FaultChannel::Events, FaultChannel::Discovery}}};
    const auto found = channels.find(channel);
    if (found == channels.end()) {
        return fmt::format("unknown fault channel '{}' (control, events, discovery or all)", channel);
    }
    for (FaultChannel which : found->second) {
        if (std::string problem = setProbability(faults.channel(which), kind, *value); !problem.empty()) {
            return problem;
        }
    }
    return {};
}

namespace {

using Setter = std::function<std::string(CameraConfig&, const std::string&)>;

// Parses with `parse` and stores with `store`, or names the option and the bad value.
template <typename Parse, typename Store>
Setter setter(std::string_view name, Parse parse, Store store)
{
    return [name, parse, store](CameraConfig& config, const std::string& value) -> std::string {
        const auto parsed = parse(value);
        if (!parsed) {
            return fmt::format("--{}: '{}' is not a valid value", name, value);
        }
        store(config, *parsed);
        return {};
    };
}

std::optional<std::string> anyText(const std::string& value)
{
    return value;
}

std::optional<SimTime> parseSeconds(const std::string& value)
{
    const auto seconds = parseReal(value);
    if (!seconds || *seconds < 0 || *seconds > 1e6) {
        return std::nullopt;
    }
    return milliseconds(static_cast<uint64_t>(*seconds * 1000));
}

// The largest stream packet a path carries: from the smallest IPv4 MTU to a jumbo frame.
std::optional<uint32_t> parsePacketSize(const std::string& value)
{
    const auto size = parseNumber<uint32_t>(value);
    return size && *size >= 576 && *size <= 9000 ? size : std::nullopt;
}

// A line rate: 1g, 10g, 25g or unlimited (0).
std::optional<uint64_t> parseLink(const std::string& value)
{
    static const std::map<std::string_view, uint64_t> rates{
        {"1g", 1'000'000'000}, {"10g", 10'000'000'000}, {"25g", 25'000'000'000}, {"unlimited", 0}};
    const auto found = rates.find(value);
    return found == rates.end() ? std::nullopt : std::optional(found->second);
}

// Every option that takes a value and sets something of one camera.
const std::map<std::string_view, Setter>& setters()
{
    static const auto* const table = new std::map<std::string_view, Setter>{
        {"model", setter("model", anyText, [](CameraConfig& c, const std::string& v) { c.model = v; })},
        {"firmware", setter("firmware", anyText, [](CameraConfig& c, const std::string& v) { c.firmware = v; })},
        {"name", setter("name", anyText, [](CameraConfig& c, const std::string& v) { c.userName = v; })},
        {"serial", setter("serial", anyText, [](CameraConfig& c, const std::string& v) { c.serial = v; })},
        {"sensor", setter("sensor", SensorModel::fromName, [](CameraConfig& c, SensorModel v) { c.sensor = v; })},
        {"memory", setter("memory", parseMemorySize, [](CameraConfig& c, uint64_t v) { c.memoryBytes = v; })},
        {"address", setter("address", parseDotted, [](CameraConfig& c, uint32_t v) { c.address = v; })},
        {"netmask", setter("netmask", parseDotted, [](CameraConfig& c, uint32_t v) { c.netmask = v; })},
        {"seed", setter("seed", parseNumber<uint64_t>, [](CameraConfig& c, uint64_t v) { c.seed = v; })},
        {"time-scale", setter("time-scale", parseReal, [](CameraConfig& c, double v) { c.timeScale = v; })},
        {"vanish-at", setter("vanish-at", parseSeconds, [](CameraConfig& c, SimTime v) { c.faults.vanishAt = v; })},
        {"vanish-for", setter("vanish-for", parseSeconds, [](CameraConfig& c, SimTime v) { c.faults.vanishFor = v; })},
        {"fault", [](CameraConfig& c, const std::string& v) { return applyFault(c.faults, v); }},
        {"max-packet",
         setter("max-packet", parsePacketSize, [](CameraConfig& c, uint32_t v) { c.maxStreamPacket = v; })},
        {"link", setter("link", parseLink, [](CameraConfig& c, uint64_t v) { c.linkBitsPerSecond = v; })},
    };
    return *table;
}

} // namespace

std::string applySetting(CameraConfig& config, std::string_view name, const std::string& value)
{
    const auto found = setters().find(name);
    if (found == setters().end()) {
        return fmt::format("unknown option --{}", name);
    }
    if (name == "sensor" && !SensorModel::fromName(value)) {
        return fmt::format("--sensor: unknown sensor '{}' (lince, lupa, lux13hs, lux19hs, x60, with -mono, or 0xCODE)",
                           value);
    }
    return found->second(config, value);
}

namespace {

// Options that take no value, and what they set.
const std::map<std::string_view, std::function<void(SimOptions&, CameraConfig&)>>& flags()
{
    static const auto* const table = new std::map<std::string_view, std::function<void(SimOptions&, CameraConfig&)>>{
        {"help", [](SimOptions& o, CameraConfig&) { o.help = true; }},
        {"quiet", [](SimOptions& o, CameraConfig&) { o.quiet = true; }},
        {"broadcast", [](SimOptions&, CameraConfig& c) { c.hearBroadcast = true; }},
        {"mute", [](SimOptions&, CameraConfig& c) { c.faults.mute = true; }},
        {"wrong-manufacturer", [](SimOptions&, CameraConfig& c) { c.faults.wrongManufacturer = true; }},
        {"old-firmware", [](SimOptions&, CameraConfig& c) { c.faults.oldFirmware = true; }},
        {"no-frame-cap", [](SimOptions&, CameraConfig& c) { c.liveFrameCap = false; }},
        {"scene", [](SimOptions&, CameraConfig& c) { c.scene = true; }},
        {"log-frames", [](SimOptions&, CameraConfig& c) { c.logFrames = true; }},
        {"no-udp-segment", [](SimOptions&, CameraConfig& c) { c.udpSegmentation = false; }},
    };
    return *table;
}

} // namespace

namespace {

// What the command line says beyond the settings of the first camera.
struct CommandLine {
    CameraConfig base;
    std::size_t count = 1;
    std::string scenario;
};

// One option with its value (from "--name=value" or the next argument); empty on success.
std::string takeOption(std::string_view name, const std::string& value, CommandLine& line)
{
    if (name == "cameras") {
        const auto number = parseNumber<std::size_t>(value);
        if (!number || *number == 0 || *number > 250) {
            return fmt::format("--cameras: '{}' is not a number from 1 to 250", value);
        }
        line.count = *number;
        return {};
    }
    if (name == "scenario") {
        line.scenario = value;
        return {};
    }
    return applySetting(line.base, name, value);
}

std::string readArguments(std::span<const std::string> args, SimOptions& options, CommandLine& line)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (!arg.starts_with("--")) {
            return fmt::format("unexpected argument '{}'", arg);
        }
        arg.remove_prefix(2);
        std::optional<std::string> value;
        if (const auto equals = arg.find('='); equals != std::string_view::npos) {
            value = std::string(arg.substr(equals + 1));
            arg = arg.substr(0, equals);
        }
        if (const auto flag = flags().find(arg); flag != flags().end() && !value) {
            flag->second(options, line.base);
            continue;
        }
        if (!value && i + 1 >= args.size()) {
            return fmt::format("--{} needs a value", arg);
        }
        if (std::string problem = takeOption(arg, value ? *value : args[++i], line); !problem.empty()) {
            return problem;
        }
    }
    return {};
}

} // namespace

ParsedOptions parseOptions(std::span<const std::string> args)
{
    ParsedOptions parsed;
    CommandLine line;
    line.base.userName = "hxsim";
    parsed.error = readArguments(args, parsed.options, line);
    if (!parsed.error.empty() || parsed.options.help) {
        return parsed;
    }
    if (!line.scenario.empty()) {
        parsed.error = loadScenario(line.scenario, line.base, parsed.options.cameras);
    } else {
        parsed.options.cameras = Cluster::numbered(line.base, line.count);
    }
    if (parsed.error.empty()) {
        parsed.error = Cluster::validate(parsed.options.cameras);
    }
    return parsed;
}

std::string usage()
{
    return R"(usage: hxsim [OPTIONS]

Runs stand-in cameras until SIGINT or SIGTERM. Each camera answers discovery, register and
memory requests on its own IPv4 address, UDP port 3956, and sends event datagrams to the host
that sets its message channel.

Where to run it: cameras bind only the addresses they are given. On the host's own network
only 127.x.y.z addresses are allowed (loopback never leaves the machine). For other addresses
or --broadcast, run it inside a private network namespace:
    scripts/in-netns build/dev/sim/hxsim --cameras 3 --broadcast

Cameras:
  --cameras N            number of cameras, on consecutive addresses (default 1)
  --address A.B.C.D      address of the first camera (default 127.0.0.2)
  --netmask A.B.C.D      subnet mask, for the broadcast address (default 255.0.0.0)
  --broadcast            also answer broadcast discovery (private namespace only)
  --model TEXT           model name; its code picks the family: qT or qX first family,
                         qM second family (default "hxsim qT")
  --sensor NAME          lince, lupa, lux13hs, lux19hs or x60 (known to hosts, unsupported),
                         with -mono for the monochrome variant, or a type code 0xXXXXXXXX
                         (default lince, colour)
  --memory SIZE          image memory, e.g. 8G or 512M, a multiple of 256M (default 8G)
  --firmware X.Y.Z       device version (default 2.6.0)
  --name NAME            user-defined name, at most 15 characters; with several cameras
                         NAME-1, NAME-2, ... (default hxsim)
  --serial TEXT          serial number (default from the address)
  --seed N               seed of the faults; the same seed gives the same run (default 1)
  --max-packet BYTES     the largest stream packet the path to hosts carries, 576 to 9000:
                         1500 answers only the 1500-byte packet-size trial, less answers
                         neither (default 9000)
  --link RATE            the line rate a camera streams at most: 1g, 10g, 25g or unlimited
                         (default 10g); the packet delay register adds to it
  --no-frame-cap         live and playback frames as fast as asked; by default they are at
                         least 20 ms apart, to spare the machine
  --log-frames           a log line for every live and playback image sent, so a host's test
                         can compare what it received with what the camera sent
  --no-udp-segment       stream datagrams one by one; by default runs of equal-size datagrams
                         leave in one segmented send, so hosts can receive them coalesced
  --scene                frames a person can follow: a disc circling with the frame number
                         and the number itself in digits (instead of the diagonal pattern)
  --time-scale X         camera seconds per real second, e.g. 100 to record a second in
                         10 ms (default 1)
  --scenario FILE.json   cameras and faults from a file (see docs/simulator.md); the other
                         options give its defaults

Faults (every camera; use a scenario file for different faults per camera):
  --fault CHANNEL.KIND=VALUE
                         CHANNEL: control, events, discovery or all
                         KIND: drop, delay, duplicate, reorder, corrupt, wrong-index,
                         error-status (probabilities 0 to 1), delay-min-ms, delay-max-ms
                         CHANNEL stream (images): drop, reorder, truncate, corrupt
                         (per packet) and cut (per image, TCP connection reset)
  --mute                 answer nothing at all
  --vanish-at SECONDS    go silent at this camera time ...
  --vanish-for SECONDS   ... for this long (default 30), then answer again
  --wrong-manufacturer   report another manufacturer
  --old-firmware         report device version 2.3.5

Other:
  --quiet                no log lines
  --help                 this text
)";
}

} // namespace hxsim
