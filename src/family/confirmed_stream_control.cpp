// A write that starts or stops a camera's stream, confirmed by reading the camera's stream state
// when its acknowledge does not come.
#include "family/confirmed_stream_control.h"

#include "hlv_thread/log.h"
#include "registers/register_map.h"
#include "wire/control_packet.h"

namespace halvex::family {

using control::RegisterChannel;
using wire::RegisterPairs;

namespace {

namespace regs = registers;
namespace results = wire::control_result;

// A time-out (the channel's age-out answers busy), a camera that was busy, or a request that may
// not have gone out: the camera may or may not have acted on it.
bool outcomeUnknown(uint32_t result)
{
    return result == results::kBusy || result == results::kOtherError;
}

bool modeHeld(uint32_t held, uint32_t wanted)
{
    if (held == wanted)
        return true;
    // A stopped stream is not paused or resumed; a started one may have been meanwhile.
    return wanted != 0 && (held == regs::STREAM_CONTROL_PAUSE || held == regs::STREAM_CONTROL_RESUME);
}

// One pair goes out as the single-register write it always was. The caller waits a few round
// trips, not the age-out: the read that follows tells what happened.
uint32_t send(RegisterChannel& channel, const RegisterPairs& writes)
{
    return channel.writeBriefly(writes);
}

} // namespace

uint32_t writeStreamControlConfirmed(RegisterChannel& channel, const RegisterPairs& writes, uint32_t wanted,
                                     const std::string& cameraName)
{
    const char* who = "writeStreamControlConfirmed";
    uint32_t result = send(channel, writes);
    for (int sent = 1; result != results::kSuccess && outcomeUnknown(result); ++sent) {
        uint32_t held = 0;
        if (const uint32_t read = channel.readReg(regs::GIGE_REG_STREAM_CONTROL, held); read != results::kSuccess) {
            HLV_LOG("%s(%s): Stream mode %u unconfirmed: its write failed [%u] and the mode could not be read [%u]",
                    who, cameraName.c_str(), wanted, result, read);
            return result;
        }
        if (modeHeld(held, wanted)) {
            HLV_LOG("%s(%s): Stream mode %u unanswered [%u] but taken: the camera holds %u", who, cameraName.c_str(),
                    wanted, result, held);
            return results::kSuccess;
        }
        if (sent == 2) {
            HLV_LOG("%s(%s): Stream mode %u not taken after two writes [%u]; the camera holds %u", who,
                    cameraName.c_str(), wanted, result, held);
            return result;
        }
        HLV_LOG("%s(%s): Stream mode %u not taken [%u]; the camera holds %u, sending it once more", who,
                cameraName.c_str(), wanted, result, held);
        result = send(channel, writes);
    }
    return result;
}

} // namespace halvex::family
