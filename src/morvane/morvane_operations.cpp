// Morvane operations: construction of the second family and what it changes in the first's rules.
#include "morvane/morvane_operations.h"

#include <hlv_thread/log.h>

#include "tarrow/tarrow_pollers.h"

using namespace HX_REGISTERS;

MorvaneOperations::MorvaneOperations(uint32_t address, std::shared_ptr<RegisterChannel> channel,
                                     std::unique_ptr<SensorOperations> sensor)
    : TarrowOperations(address, std::move(channel), std::move(sensor))
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s: %s", "MorvaneOperations::MorvaneOperations", cameraName().c_str());
    setSensorFlag(0);
    // Lens status and information, playback status, save state and progress, and two registers
    // of the family's own, kept current like the first family's groups.
    addToGroup(RegisterGroup::Lens, GIGE_REG_LENS_STATUS_JSON);
    addToGroup(RegisterGroup::Lens, GIGE_REG_LENS_INFO_JSON);
    addToGroup(RegisterGroup::Playback, GIGE_REG_PB_STATUS);
    addToGroup(RegisterGroup::Progress, GIGE_REG_SAVE_STATE);
    addToGroup(RegisterGroup::Progress, GIGE_REG_PROGRESS);
    addToGroup(RegisterGroup::Progress, GIGE_REG_MORVANE_C7D8);
    addToGroup(RegisterGroup::Progress, GIGE_REG_MORVANE_C308);
}

MorvaneOperations::~MorvaneOperations()
{
    HLV_TRACE(HLV_THREAD::TRACE_OPERATIONS, "%s(%s)", "MorvaneOperations::~MorvaneOperations", cameraName().c_str());
    stopRestartWatch();
    stopSavePoller();
}

TARROW_CAPTURE::RateEncoding MorvaneOperations::rateEncoding() const
{
    return TARROW_CAPTURE::RateEncoding::Fractional;
}

// The second family streams its images over a TCP connection to the camera.
bool MorvaneOperations::streamsOverUdp() const
{
    return false;
}

// The family's cameras report playing in the playback status: busy, and single-frame stepping.
TARROW_COMMANDS::PlaybackModeSource MorvaneOperations::playbackModeSource() const
{
    return TARROW_COMMANDS::PlaybackModeSource::Status;
}
