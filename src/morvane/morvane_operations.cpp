// Morvane operations: construction of the second family and its traits.
#include "morvane/morvane_operations.h"

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>

#include "family/pollers.h"

namespace halvex::morvane {

using control::RegisterChannel;
using family::FamilyOperations;
using family::FamilyTraits;
using sensors::SensorOperations;

using namespace registers;

namespace {

// Fractional frame rates; images over a TCP connection to the camera; playing reported in the
// playback status (busy, and single-frame stepping); the shown frame polled during playback.
FamilyTraits traits()
{
    FamilyTraits traits;
    traits.rates = family::capture::RateEncoding::Fractional;
    traits.streamsOverUdp = false;
    traits.playModeSource = family::commands::PlaybackModeSource::Status;
    traits.pollsShownFrame = true;
    // Lens status and information, playback status, save state and progress, and two registers
    // of the family's own, kept current like the first family's groups.
    traits.groupRegisters = {
        {RegisterGroup::Lens, GIGE_REG_LENS_STATUS_JSON}, {RegisterGroup::Lens, GIGE_REG_LENS_INFO_JSON},
        {RegisterGroup::Playback, GIGE_REG_PB_STATUS},    {RegisterGroup::Progress, GIGE_REG_SAVE_STATE},
        {RegisterGroup::Progress, GIGE_REG_PROGRESS},     {RegisterGroup::Progress, GIGE_REG_MORVANE_C7D8},
        {RegisterGroup::Progress, GIGE_REG_MORVANE_C308}};
    return traits;
}

} // namespace

MorvaneOperations::MorvaneOperations(uint32_t address, std::shared_ptr<RegisterChannel> channel,
                                     std::unique_ptr<SensorOperations> sensor)
    : FamilyOperations(address, std::move(channel), std::move(sensor), traits()), lens_(this->channel(), cameraName())
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s: %s", HLV_LABEL("MorvaneOperations"), cameraName().c_str());
    setSensorFlag(0);
}

MorvaneOperations::~MorvaneOperations()
{
    HLV_TRACE(thread::TRACE_OPERATIONS, "%s(%s)", HLV_LABEL("~MorvaneOperations"), cameraName().c_str());
    stopRestartWatch();
    stopSavePoller();
}

} // namespace halvex::morvane
