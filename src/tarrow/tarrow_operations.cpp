// Tarrow operations: the first family's traits and the operations it does not offer.
#include "tarrow/tarrow_operations.h"

#include <hlv_thread/log.h>
#include <hlv_thread/log_label.h>
#include <hlv_thread/note.h>

namespace halvex::tarrow {

using control::RegisterChannel;
using family::FamilyOperations;
using family::FamilyTraits;
using sensors::SensorOperations;

TarrowOperations::TarrowOperations(uint32_t address, std::shared_ptr<RegisterChannel> channel,
                                   std::unique_ptr<SensorOperations> sensor)
    : FamilyOperations(address, std::move(channel), std::move(sensor), FamilyTraits{})
{
}

TarrowOperations::~TarrowOperations()
{
    stopRestartWatch();
}

void TarrowOperations::getCameraMedia(char* /*jsonData*/, uint32_t* /*jsonLength*/)
{
    HLV_THROW(thread::RuntimeError, "%s(%s): Operation is not supported.", HLV_LABEL("getCameraMedia"), name_.c_str());
}

void TarrowOperations::startCameraSave(const char* /*json*/)
{
    HLV_THROW(thread::RuntimeError, "%s(%s): Operation is not supported.", HLV_LABEL("startCameraSave"), name_.c_str());
}

void TarrowOperations::getLensStatus(HX_LENS_STATUS* /*out*/)
{
    HLV_THROW(thread::RuntimeError, "%s(%s): Function not supported on tarrow cameras.", HLV_LABEL("getLensStatus"),
              name_.c_str());
}

void TarrowOperations::setLensSettings(HX_LENS_SETTINGS* /*in*/)
{
    HLV_THROW(thread::RuntimeError, "%s(%s): Function not supported on tarrow cameras.", HLV_LABEL("setLensSettings"),
              name_.c_str());
}

bool TarrowOperations::getTemperature(HX_TEMPERATURE* /*out*/)
{
    HLV_LOG("%s(%s): Not supported!", HLV_LABEL("getTemperature"), name_.c_str());
    return false;
}

} // namespace halvex::tarrow
