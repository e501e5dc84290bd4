// Drives the camera database with fuzzer-chosen replies, polls, removals and lookups, and checks
// after every step that it stayed consistent with what it reported.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <span>
#include <string>

#include "discovery/discovery_db.h"
#include "fuzz_check.h"
#include "fuzz_input.h"

namespace {

using fuzz_input::Input;
using halvex::discovery::Reply;

// A handful of addresses, so replies, removals and age-outs meet the same cameras.
uint32_t addressOf(uint8_t choice)
{
    return htonl(0x7F000001u + (choice % 4u));
}

// Checks each report against the record it carries.
class CheckingEvents : public halvex::discovery::DiscoveryEvents {
public:
    std::size_t found = 0;
    std::size_t lost = 0;
    // The cameras reported found and not yet lost, by the address they were found at. A camera
    // that ages out is reported lost at the address its last reply gave, so this follows the
    // database after each step rather than the lost events.
    std::set<uint32_t> listed;

    std::string adapterName(uint32_t) override { return "fuzz0"; }
    void cameraFound(uint32_t address, const std::string& name, const HX_CAMERA_INFORMATION& info) override
    {
        ++found;
        // Once per change: a camera already reported found is not found again until it is lost.
        FUZZ_CHECK(listed.insert(address).second);
        FUZZ_CHECK(name.size() <= 16);
        FUZZ_CHECK(strnlen(info.user_name, sizeof info.user_name) < sizeof info.user_name);
        FUZZ_CHECK(strnlen(info.device_version, sizeof info.device_version) < sizeof info.device_version);
        FUZZ_CHECK(strnlen(info.manufacturer_info, sizeof info.manufacturer_info) < sizeof info.manufacturer_info);
        FUZZ_CHECK(strnlen(info.serial_number, sizeof info.serial_number) < sizeof info.serial_number);
    }
    void cameraLost(uint32_t, const std::string& name) override
    {
        ++lost;
        FUZZ_CHECK(name.size() <= 16);
    }
};

void put(Reply& reply, std::size_t offset, std::size_t room, const std::string& text)
{
    std::memcpy(reply.data() + offset, text.data(), std::min(text.size(), room));
}

// Mostly near-valid replies (the interesting paths need a plausible one), sometimes raw bytes.
Reply replyFrom(Input& in, uint32_t source)
{
    Reply reply{};
    if (in.byte() % 8 == 0) {
        const std::span<const uint8_t> raw = in.bytes(reply.size());
        std::copy(raw.begin(), raw.end(), reply.begin());
        return reply;
    }
    reply[3] = 0x03; // DISCOVERY_ACK, status 0
    const uint32_t claimed = in.byte() % 8 == 0 ? addressOf(in.byte()) : source;
    std::memcpy(reply.data() + 44, &claimed, 4);
    static const char* const makers[] = {"halvex", "HALVEX", "HalVex", "acme"};
    const uint8_t maker = in.byte();
    put(reply, 80, 32, maker < 200 ? makers[maker % 4] : in.text(32));
    put(reply, 144, 32, in.byte() % 2 == 0 ? std::string("2.3.6") : in.text(32));
    put(reply, 176, 48, in.text(48));
    put(reply, 224, 16, in.text(16));
    put(reply, 240, 16, in.text(16));
    return reply;
}

void checkConsistent(const halvex::discovery::DiscoveryDb& db, CheckingEvents& events)
{
    const std::vector<uint32_t> cameras = db.addresses();
    FUZZ_CHECK(events.found - events.lost == cameras.size());
    events.listed = std::set<uint32_t>(cameras.begin(), cameras.end());
    FUZZ_CHECK(events.listed.size() == cameras.size());
    for (const uint32_t address : cameras) {
        FUZZ_CHECK(!db.ignoreCount(address).has_value());
        const std::optional<int32_t> timer = db.timer(address);
        FUZZ_CHECK(timer && *timer >= 1 && *timer <= halvex::discovery::TIMER_START);
        // Listed under the address the reply came from, whatever address the reply itself reports.
        Reply stored{};
        FUZZ_CHECK(db.getByAddr(address, stored));
    }
}

// A tick brings every listed camera one step closer to its age-out; one silent for its whole
// timer goes, with one lost event.
void tick(halvex::discovery::DiscoveryDb& db, const CheckingEvents& events)
{
    std::map<uint32_t, int32_t> before;
    for (const uint32_t address : db.addresses())
        before[address] = *db.timer(address);
    const std::size_t lost = events.lost;
    db.decrementTimeout();
    std::size_t gone = 0;
    for (const auto& [address, timer] : before) {
        const std::optional<int32_t> now = db.timer(address);
        FUZZ_CHECK(timer > 1 ? now == timer - 1 : !now.has_value());
        gone += now ? 0 : 1;
    }
    FUZZ_CHECK(events.lost - lost == gone);
}

} // namespace

// The database's log lines go to standard output; the fuzzer reports on standard error.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return std::freopen("/dev/null", "w", stdout) == nullptr ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in({data, size});
    CheckingEvents events;
    halvex::discovery::DiscoveryDb db(events);
    for (int step = 0; step < 64 && !in.empty(); ++step) {
        const uint8_t action = in.byte();
        const uint32_t address = addressOf(in.byte());
        switch (action % 5) {
        case 0:
        case 1: db.addCamera(replyFrom(in, address), address); break;
        case 2: tick(db, events); break;
        case 3: db.removeCamera(address); break;
        default: {
            Reply out{};
            (void)db.getByName(in.text(20), out);
            break;
        }
        }
        checkConsistent(db, events);
    }
    return 0;
}
