// The stand-in camera and the library each keep their own register table, family codes and
// sensor codes. This is the one test that sees both: where they disagree one side is wrong, and
// without it both sides would agree on whatever one of them got wrong.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <map>
#include <string>

#include "registers/model_codes.h"
#include "registers/register_map.h"
#include "registers/sensor_types.h"
#include "sim/device/register_defaults.h"
#include "sim/registers/camera_registers.h"
#include "sim/registers/family_codes.h"
#include "sim/registers/sensor_model.h"

using namespace halvex::registers;

namespace camera = halvex::sim;
namespace library = halvex::registers;

namespace {

std::map<uint32_t, std::string> cameraNames()
{
    std::map<uint32_t, std::string> names;
    for (const camera::NamedRegister& entry : camera::cameraRegisters()) {
        names.emplace(entry.address, entry.name);
    }
    return names;
}

std::map<uint32_t, std::string> libraryNames()
{
    std::map<uint32_t, std::string> names;
    for (const library::RegisterInfo& entry : library::allRegisters()) {
        names.emplace(entry.address, entry.name);
    }
    return names;
}

camera::CameraFamily cameraSide(library::CameraFamily family)
{
    return family == library::CameraFamily::Tarrow ? camera::CameraFamily::Tarrow : camera::CameraFamily::Morvane;
}

std::span<const uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

} // namespace

// Address by address: the same name on both sides, and no address that only one side has. Two
// names swapped, a mistyped digit or a register one side forgot each fail here.
TEST(CameraAgreement, RegisterTablesMatchAddressByAddress)
{
    const auto cameraSideNames = cameraNames();
    const auto librarySideNames = libraryNames();
    ASSERT_FALSE(librarySideNames.empty());
    for (const auto& [address, name] : librarySideNames) {
        const auto found = cameraSideNames.find(address);
        if (found == cameraSideNames.end()) {
            ADD_FAILURE() << fmt::format("the library's {} at 0x{:04X} is no register of the camera", name, address);
        } else {
            EXPECT_EQ(found->second, name) << fmt::format("at 0x{:04X}", address);
        }
    }
    for (const auto& [address, name] : cameraSideNames) {
        EXPECT_TRUE(librarySideNames.contains(address))
            << fmt::format("the camera's {} at 0x{:04X} is unknown to the library", name, address);
    }
}

// A group refresh is one multi-register read, and one address the camera lacks fails all of it:
// every register the library's groups read must be one a camera has from power-up, in both
// families. The texts are memory, compared above; the lens group starts empty.
TEST(CameraAgreement, CameraHasEveryRegisterTheLibraryRefreshes)
{
    using library::RegisterGroup;
    for (const char* model : {"hxsim qT", "hxsim qM"}) {
        hxsim::CameraConfig config;
        config.model = model;
        const hxsim::RegisterFile registers = hxsim::defaultRegisters(config);
        for (RegisterGroup group :
             {RegisterGroup::Capture, RegisterGroup::Download, RegisterGroup::IO, RegisterGroup::Playback,
              RegisterGroup::Progress, RegisterGroup::Sensor, RegisterGroup::State, RegisterGroup::Stream}) {
            for (uint32_t address : library::groupRegisters(group)) {
                EXPECT_TRUE(registers.has(address)) << fmt::format("{} camera lacks 0x{:04X} of the {} group", model,
                                                                   address, library::groupName(group));
            }
        }
    }
}

// The same codes in the same order, each naming the same family, so camera and host read one
// model text alike, including a text that holds codes of both families.
TEST(CameraAgreement, FamilyCodesMatch)
{
    const auto cameraCodes = camera::familyCodes();
    const auto libraryCodes = library::familyCodes();
    ASSERT_EQ(cameraCodes.size(), libraryCodes.size());
    std::string everyCodeBackwards;
    for (std::size_t i = 0; i < libraryCodes.size(); ++i) {
        EXPECT_EQ(cameraCodes[i].code, libraryCodes[i].code) << "code " << i;
        EXPECT_EQ(cameraCodes[i].family, cameraSide(libraryCodes[i].family)) << libraryCodes[i].code;
        everyCodeBackwards = std::string(libraryCodes[i].code) + " " + everyCodeBackwards;
    }
    const auto hostReads = library::familyFromWindow(bytesOf(everyCodeBackwards));
    ASSERT_TRUE(hostReads.has_value());
    EXPECT_EQ(camera::familyOf(everyCodeBackwards), cameraSide(*hostReads)) << everyCodeBackwards;
}

// Every sensor type code the library knows is the code of the camera's chip of that name, in the
// same variant, and every code a camera can report is one the library knows.
TEST(CameraAgreement, SensorTypeCodesMatch)
{
    for (const SensorTypeInfo& known : knownSensorTypes()) {
        const hxsim::SensorModel sensor = hxsim::SensorModel::fromCode(known.code);
        EXPECT_EQ(sensor.spec().name, known.name) << fmt::format("code 0x{:08X}", known.code);
        const uint32_t variant = known.colour ? sensor.spec().colourCode : sensor.spec().monoCode;
        EXPECT_EQ(variant, known.code) << known.name << (known.colour ? " colour" : " monochrome");
    }
    for (const hxsim::SensorSpec& chip : hxsim::SensorModel::chips()) {
        for (const uint32_t code : {chip.colourCode, chip.monoCode}) {
            const auto known = findSensorType(code);
            ASSERT_TRUE(known.has_value()) << fmt::format("{} 0x{:08X} is unknown to the library", chip.name, code);
            EXPECT_EQ(known->name, chip.name);
            EXPECT_EQ(known->colour, code == chip.colourCode) << chip.name;
        }
    }
}
