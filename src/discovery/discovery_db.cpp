// The camera database: accepts or refuses discovery replies, ages cameras out and keeps the ignore list.
#include "discovery/discovery_db.h"

#include <algorithm>
#include <cstring>

#include "hlv_thread/log.h"
#include "platform/ipv4_endpoint.h"
#include "platform/netutils.h"
#include "wire/byte_io.h"

namespace halvex::discovery {

namespace {

// Copies a text into a record's room, truncated so that a terminating NUL always fits.
template <std::size_t N>
void copyText(char (&room)[N], const std::string& text)
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(room, text.data(), length);
    room[length] = '\0';
}

HX_CAMERA_INFORMATION cameraInformation(const wire::DiscoveryAck& reply, const std::string& adapter)
{
    HX_CAMERA_INFORMATION info;
    HX_camera_information_init(&info, sizeof info);
    copyText(info.adapter_name, adapter);
    copyText(info.device_version, reply.deviceVersion);
    copyText(info.manufacturer_info, reply.manufacturerInfo);
    copyText(info.manufacturer_name, reply.manufacturerName);
    copyText(info.model_name, reply.modelName);
    copyText(info.serial_number, reply.serialNumber);
    copyText(info.user_name, reply.userDefinedName);
    return info;
}

// What a host is told of a camera that answered and is not served.
std::string refusalText(const wire::DiscoveryAck& reply)
{
    std::string why =
        wire::judgeDiscoveryReply(reply) == wire::DiscoveryVerdict::FirmwareTooOld
            ? "firmware " + reply.deviceVersion + " is older than " + wire::toString(wire::kMinimumDeviceVersion)
            : "made by another maker";
    return "maker \"" + reply.manufacturerName + "\", model \"" + reply.modelName + "\"; not supported (" + why + ")";
}

} // namespace

std::string userDefinedName(const Reply& reply)
{
    wire::ByteReader in(reply);
    in.seek(wire::discovery_offset::kUserDefinedName);
    return in.text(wire::discovery_text_size::kUserDefinedName);
}

DiscoveryEvents::~DiscoveryEvents() = default;

DiscoveryDb::DiscoveryDb(DiscoveryEvents& events) : events_(events) {}

void DiscoveryDb::addCamera(const Reply& reply, uint32_t address)
{
    const std::optional<wire::DiscoveryAck> decoded = wire::decodeDiscoveryAck(reply);
    if (!decoded) {
        HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Reply from %s is no discovery acknowledge; dropped.",
                  "HLV_DISCOVERY::DiscoveryDb::addCamera", platform::ipv4ToText(address).c_str());
        return;
    }
    // Cameras are keyed by the reply's source: the address a camera reports for itself may be
    // anything (0.0.0.0 while it has none configured) and does not keep it from being listed.
    if (applyIgnoreList(address) == IgnoreVerdict::Ignore)
        return;
    if (refreshKnown(address, reply))
        return;
    if (!passesChecks(address, *decoded))
        return;
    insert(address, reply);
    announce(address, *decoded);
    markAnnounced(address);
}

DiscoveryDb::IgnoreVerdict DiscoveryDb::applyIgnoreList(uint32_t address)
{
    {
        const std::lock_guard lock(mutex_);
        if (ignored_.find(address) == ignored_.end())
            return IgnoreVerdict::Proceed;
    }
    cameraErase(address);
    const std::lock_guard lock(mutex_);
    const auto entry = ignored_.find(address);
    if (entry == ignored_.end())
        return IgnoreVerdict::Proceed;
    if (entry->second == IGNORE_FOREVER)
        return IgnoreVerdict::Ignore;
    if (--entry->second > 0)
        return IgnoreVerdict::Ignore;
    ignored_.erase(entry);
    return IgnoreVerdict::Proceed;
}

bool DiscoveryDb::refreshKnown(uint32_t address, const Reply& reply)
{
    const std::lock_guard lock(mutex_);
    const auto entry = cameras_.find(address);
    if (entry == cameras_.end())
        return false;
    entry->second.timer = TIMER_START;
    entry->second.reply = reply;
    return true;
}

bool DiscoveryDb::passesChecks(uint32_t address, const wire::DiscoveryAck& reply)
{
    switch (wire::judgeDiscoveryReply(reply)) {
    case wire::DiscoveryVerdict::Accepted: return true;
    case wire::DiscoveryVerdict::ForeignManufacturer:
        HLV_TRACE(thread::TRACE_DISCOVERY, "%s: %s is made by \"%s\"; ignored.",
                  "HLV_DISCOVERY::DiscoveryDb::addCamera", platform::ipv4ToText(address).c_str(),
                  reply.manufacturerName.c_str());
        break;
    case wire::DiscoveryVerdict::FirmwareTooOld:
        // Logged whatever the trace mask: an owner would otherwise never learn why the camera stays hidden.
        HLV_LOG("%s: %s/%s runs firmware \"%s\", older than %s; ignored.", "HLV_DISCOVERY::DiscoveryDb::addCamera",
                reply.userDefinedName.c_str(), platform::ipv4ToText(address).c_str(), reply.deviceVersion.c_str(),
                wire::toString(wire::kMinimumDeviceVersion).c_str());
        break;
    }
    ignore(address, IGNORE_FOREVER);
    {
        const std::lock_guard lock(mutex_);
        refusals_[address] = refusalText(reply);
    }
    changed_.notify_all();
    return false;
}

void DiscoveryDb::ignore(uint32_t address, int32_t count)
{
    const std::lock_guard lock(mutex_);
    ignored_.emplace(address, count); // never overwrites an existing count
}

void DiscoveryDb::insert(uint32_t address, const Reply& reply)
{
    const std::lock_guard lock(mutex_);
    cameras_[address] = CameraEntry{TIMER_START, reply, false};
}

// A host that looked the camera up by address goes on only now: before its found-event was
// handled, a camera that returned would still have the control channel that failed when it was
// lost, and the host's first request would fail at once.
void DiscoveryDb::markAnnounced(uint32_t address)
{
    {
        const std::lock_guard lock(mutex_);
        const auto entry = cameras_.find(address);
        if (entry != cameras_.end())
            entry->second.announced = true;
    }
    changed_.notify_all();
}

void DiscoveryDb::announce(uint32_t address, const wire::DiscoveryAck& reply)
{
    const HX_CAMERA_INFORMATION info = cameraInformation(reply, events_.adapterName(address));
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Adding camera %s/%s to the database.",
              "HLV_DISCOVERY::DiscoveryDb::addCamera", reply.userDefinedName.c_str(),
              platform::ipv4ToText(address).c_str());
    events_.cameraFound(address, reply.userDefinedName, info);
}

void DiscoveryDb::decrementTimeout()
{
    std::vector<Lost> lost;
    {
        const std::lock_guard lock(mutex_);
        for (auto entry = cameras_.begin(); entry != cameras_.end();) {
            const int32_t timer = --entry->second.timer;
            HLV_TRACE(thread::TRACE_DISCOVERY, "%s: %s timer=%d", "HLV_DISCOVERY::DiscoveryDb::decrementTimeout",
                      platform::ipv4ToText(entry->first).c_str(), timer);
            if (timer > 0) {
                ++entry;
                continue;
            }
            // Reported under the key it was found under: the address a camera reports for itself
            // may be 0.0.0.0, and its handle, channel and service are those of the reply's source.
            const Lost camera{entry->first, userDefinedName(entry->second.reply)};
            HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Removing %s/%s", "HLV_DISCOVERY::DiscoveryDb::decrementTimeout",
                      camera.name.c_str(), platform::ipv4ToText(entry->first).c_str());
            lost.push_back(camera);
            entry = cameras_.erase(entry);
        }
    }
    for (const Lost& camera : lost)
        cameraRemoveNotification(camera.address, camera.name);
}

void DiscoveryDb::cameraErase(uint32_t address)
{
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s: remove %s", "HLV_DISCOVERY::DiscoveryDb::cameraErase",
              platform::ipv4ToText(address).c_str());
    const std::lock_guard lock(mutex_);
    cameras_.erase(address);
}

void DiscoveryDb::cameraRemoveNotification(uint32_t address, const std::string& name)
{
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s(%s): name=%s", "HLV_DISCOVERY::DiscoveryDb::cameraRemoveNotification",
              platform::ipv4ToText(address).c_str(), name.c_str());
    events_.cameraLost(address, name);
}

void DiscoveryDb::removeCamera(uint32_t address)
{
    Reply reply{};
    if (!getByAddr(address, reply)) {
        HLV_TRACE(thread::TRACE_DISCOVERY, "%s(%s): camera not found.", "HLV_DISCOVERY::DiscoveryDb::removeCamera",
                  platform::ipv4ToText(address).c_str());
        return;
    }
    ignore(address, IGNORE_AFTER_REMOVAL);
    cameraErase(address);
    cameraRemoveNotification(address, userDefinedName(reply));
}

bool DiscoveryDb::getByAddr(uint32_t address, Reply& out) const
{
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Looking for %s", "HLV_DISCOVERY::DiscoveryDb::getByAddr",
              platform::ipv4ToText(address).c_str());
    const std::lock_guard lock(mutex_);
    const auto entry = cameras_.find(address);
    if (entry == cameras_.end()) {
        HLV_TRACE(thread::TRACE_DISCOVERY, "%s: addr not found.", "HLV_DISCOVERY::DiscoveryDb::getByAddr");
        return false;
    }
    out = entry->second.reply;
    return true;
}

bool DiscoveryDb::getByName(const std::string& name, Reply& out, uint32_t* address) const
{
    HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Looking for %s", "HLV_DISCOVERY::DiscoveryDb::getByName", name.c_str());
    const std::lock_guard lock(mutex_);
    for (const auto& [key, entry] : cameras_) {
        const std::string candidate = userDefinedName(entry.reply);
        HLV_TRACE(thread::TRACE_DISCOVERY, "%s: Looking at %s", "HLV_DISCOVERY::DiscoveryDb::getByName",
                  candidate.c_str());
        if (candidate == name) {
            out = entry.reply;
            if (address != nullptr)
                *address = key;
            return true;
        }
    }
    return false;
}

bool DiscoveryDb::waitForCamera(uint32_t address, std::chrono::steady_clock::time_point deadline) const
{
    std::unique_lock lock(mutex_);
    bool found = false;
    ++waiters_;
    // A camera refused meanwhile will not come: no need to wait out the deadline.
    changed_.wait_until(lock, deadline, [&] {
        const auto entry = cameras_.find(address);
        found = entry != cameras_.end() && entry->second.announced;
        return found || refusals_.count(address) != 0;
    });
    --waiters_;
    return found;
}

std::size_t DiscoveryDb::waiters() const
{
    const std::lock_guard lock(mutex_);
    return waiters_;
}

std::vector<uint32_t> DiscoveryDb::addresses() const
{
    const std::lock_guard lock(mutex_);
    std::vector<uint32_t> result;
    for (const auto& entry : cameras_)
        result.push_back(entry.first);
    return result;
}

std::optional<int32_t> DiscoveryDb::timer(uint32_t address) const
{
    const std::lock_guard lock(mutex_);
    const auto entry = cameras_.find(address);
    return entry == cameras_.end() ? std::nullopt : std::optional<int32_t>(entry->second.timer);
}

std::optional<std::string> DiscoveryDb::refusal(uint32_t address) const
{
    const std::lock_guard lock(mutex_);
    const auto entry = refusals_.find(address);
    return entry == refusals_.end() ? std::nullopt : std::optional<std::string>(entry->second);
}

std::optional<int32_t> DiscoveryDb::ignoreCount(uint32_t address) const
{
    const std::lock_guard lock(mutex_);
    const auto entry = ignored_.find(address);
    return entry == ignored_.end() ? std::nullopt : std::optional<int32_t>(entry->second);
}

} // namespace halvex::discovery
