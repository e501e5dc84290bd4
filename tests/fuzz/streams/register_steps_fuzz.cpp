// Drives the two receiver parts that write camera registers, packet-size negotiation and the
// download throttle, against a scripted camera whose every answer (success, busy, refusal,
// time-out) the fuzzer picks. Checks what the camera is told: packet sizes always with
// do-not-fragment, a negotiation that ends settles on a size every trial could have given,
// the pause register written only on a change, and the download's frames still to come never
// growing within one download.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "control/register_channel.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "hlv_thread/period_scale.h"
#include "registers/register_map.h"
#include "stream/download_throttle.h"
#include "stream/packet_size_negotiation.h"

using namespace halvex::control;
using namespace halvex::stream;
using namespace halvex::wire;

namespace regs = halvex::registers;
using fuzz_input::Input;

namespace {

constexpr uint32_t kCamera = 0x0200007F;

// Answers every exchange as the script says: mostly success, sometimes a busy, refused or timed-out
// request (results 1 to 13).
class ScriptedCamera : public RegisterChannel {
public:
    explicit ScriptedCamera(Input& in) : in_(in) {}

    uint32_t readReg(uint32_t, uint32_t& value) override
    {
        value = 0;
        return answer();
    }
    uint32_t writeReg(uint32_t reg, uint32_t value) override
    {
        writes.push_back({reg, value});
        return answer();
    }
    uint32_t readMultiReg(RegisterPairs&) override { return answer(); }
    uint32_t writeMultiReg(const RegisterPairs& pairs) override
    {
        writes.insert(writes.end(), pairs.begin(), pairs.end());
        return answer();
    }
    uint32_t readMem(uint32_t, std::vector<uint8_t>&, uint32_t) override { return answer(); }
    uint32_t writeBriefly(const RegisterPairs& pairs) override { return writeMultiReg(pairs); }

    RegisterPairs writes;

private:
    uint32_t answer()
    {
        const uint8_t choice = in_.byte();
        return choice < 160 ? 0 : 1 + choice % 13;
    }

    Input& in_;
};

bool isPacketSize(uint32_t size)
{
    return size == PacketSizeNegotiation::JUMBO_PACKET || size == PacketSizeNegotiation::STANDARD_PACKET;
}

void checkPacketSizeWrites(const RegisterPairs& writes)
{
    for (const RegisterPair& pair : writes) {
        if (pair.address != regs::GIGE_REG_SCPS0)
            continue;
        FUZZ_CHECK((pair.value & regs::SCPS0_DO_NOT_FRAGMENT) != 0);
        FUZZ_CHECK(isPacketSize(pair.value & 0xFFFF));
    }
}

void runNegotiation(Input& in)
{
    ScriptedCamera camera(in);
    const std::string where = "127.0.0.2:4321";
    bool testing = false;
    unsigned begun = 0;
    unsigned ended = 0;
    std::vector<uint32_t> timeouts;
    PacketSizeNegotiation::Hooks hooks;
    hooks.localPort = [] { return uint16_t{4321}; };
    hooks.trialStarts = [] {};
    hooks.ended = [&] {
        testing = false;
        ++ended;
    };
    hooks.postTimeout = [&](uint32_t size) { timeouts.push_back(size); };
    PacketSizeNegotiation negotiation(camera, kCamera, where, hooks);
    for (unsigned step = 0; step < 64 && !in.empty(); ++step) {
        switch (in.byte() % 5) {
        case 0:
            testing = true;
            ++begun;
            negotiation.begin();
            break;
        case 1:
            if (testing)
                negotiation.testPacket(in.u16() % 9400);
            break;
        case 2:
            if (!timeouts.empty()) {
                negotiation.timedOut(timeouts.front(), testing);
                timeouts.erase(timeouts.begin());
            }
            break;
        case 3: negotiation.timedOut(in.u16(), testing); break; // spurious: a stale or foreign time-out
        default: negotiation.endTrialWhenDue(); break;
        }
        FUZZ_CHECK(ended <= begun);
        if (testing)
            FUZZ_CHECK(negotiation.negotiatedSize() == 0);
        else if (ended != 0)
            FUZZ_CHECK(isPacketSize(negotiation.negotiatedSize()));
        checkPacketSizeWrites(camera.writes);
    }
    negotiation.stop();
    FUZZ_CHECK(!negotiation.untilTrialEnds());
}

void runThrottle(Input& in)
{
    ScriptedCamera camera(in);
    const std::string where = "127.0.0.2:4321";
    DownloadThrottle throttle(camera, "DownloadThrottle", where);
    std::optional<bool> told;
    std::optional<std::size_t> lastToCome;
    // The image handed back last was the download's last frame, and empty.
    bool lastCameEmpty = false;
    // The camera's service thread sees every image of the download (it converts them).
    bool seesEveryImage = true;
    for (unsigned step = 0; step < 64 && !in.empty(); ++step) {
        switch (in.byte() % 4) {
        case 0: {
            const uint32_t first = in.byte() < 32 ? DownloadThrottle::UNKNOWN_FRAME : in.byte();
            const uint32_t last = in.byte() < 32 ? DownloadThrottle::UNKNOWN_FRAME : first + in.byte();
            seesEveryImage = in.byte() < 128;
            throttle.setDownloadRange(first, last, seesEveryImage);
            throttle.startDownload();
            lastToCome = throttle.framesToCome();
            lastCameEmpty = false;
            break;
        }
        case 1: {
            const uint32_t frame = in.byte() < 16 ? DownloadThrottle::UNKNOWN_FRAME : in.u16() % 300;
            const uint32_t received = in.byte() < 64 ? 0 : in.u16();
            throttle.noteImage(frame, received);
            // Only an image the service thread has no need of skips it: never the last, never one
            // it converts, never one it does not expect.
            if (throttle.goesStraightBack(frame))
                FUZZ_CHECK(!seesEveryImage && frame >= throttle.firstFrame() && frame < throttle.lastFrame());
            FUZZ_CHECK(!throttle.goesStraightBack(throttle.lastFrame()));
            lastCameEmpty = frame == throttle.lastFrame() && received == 0;
            const std::optional<std::size_t> toCome = throttle.framesToCome();
            FUZZ_CHECK(toCome.has_value() == lastToCome.has_value());
            if (toCome)
                FUZZ_CHECK(*toCome <= *lastToCome);
            lastToCome = toCome;
            break;
        }
        default: {
            const bool pause = in.byte() % 2 == 0;
            const bool was = throttle.paused();
            const std::size_t before = camera.writes.size();
            if (throttle.change(pause))
                throttle.tellCamera(pause);
            FUZZ_CHECK(throttle.paused() == pause);
            FUZZ_CHECK((camera.writes.size() != before) == (was != pause));
            if (camera.writes.size() != before) {
                FUZZ_CHECK(camera.writes.back().address == regs::GIGE_REG_STREAM_CONTROL);
                FUZZ_CHECK(!told || *told != pause);
                told = pause;
            }
            break;
        }
        }
        // Frames still to come keep the download open; once none are, only an empty last frame does.
        if (lastToCome)
            FUZZ_CHECK(throttle.endToCome() == (*lastToCome != 0 || lastCameEmpty));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Trials end at once, so a step that lets time pass always finds the running one out of time.
    halvex::thread::setPeriodScale(1e-9);
    Input in({data, size});
    if (in.byte() % 2 == 0)
        runNegotiation(in);
    else
        runThrottle(in);
    return 0;
}
