// The register map against a table typed from the register tables: every address the library
// uses, its name where the table gives one, and every group's registers in table order. The
// stand-in camera links the same map, so only a table typed by hand catches a wrong address.
#include "registers/register_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace halvex::registers;

namespace {

struct TypedRegister {
    uint32_t address;
    const char* name;   // "" where the table gives a standard register without a name
    const char* groups; // the groups caching it, space-separated; "" when read or written directly
};

const std::vector<TypedRegister> kTable = {
    // Bootstrap memory texts and registers.
    {0x0048, "", "text"},
    {0x0068, "", "text"},
    {0x0088, "", "text"},
    {0x00A8, "", "text"},
    {0x00D8, "", "text"},
    {0x00E8, "", "text"},
    {0x0938, "", ""},
    {0x0A00, "", ""},
    {0x0B00, "", ""},
    {0x0B10, "", ""},
    {0x0D00, "", ""},
    {0x0D04, "", ""},
    {0x0D08, "", "stream"},
    {0x0D18, "", ""},
    // Camera-specific registers.
    {0xA020, "GIGE_REG_SENSOR_WIDTH_MAX", "sensor"},
    {0xA024, "GIGE_REG_SENSOR_HEIGHT_MAX", "sensor"},
    {0xA030, "GIGE_REG_RECORD_END_SEGMENT", "capture"},
    {0xA03C, "GIGE_REG_IO_A03C", "IO"},
    {0xA050, "GIGE_REG_PROGRESS_A050", "progress"},
    {0xA054, "GIGE_REG_PROGRESS_A054", "progress"},
    {0xA058, "GIGE_REG_PROGRESS_A058", "progress"},
    {0xB800, "GIGE_REG_PB_CONTROL", "playback"},
    {0xB804, "GIGE_REG_PB_STATUS", "playback"},
    {0xB808, "GIGE_REG_PB_B808", ""},
    {0xB814, "GIGE_REG_PB_B814", "playback"},
    {0xB818, "GIGE_REG_PB_B818", "playback"},
    {0xB824, "GIGE_REG_CSI_RVW_FRAME_NUM", "playback"},
    {0xC008, "GIGE_REG_PROGRESS_C008", "progress"},
    {0xC010, "GIGE_REG_IMAGE_MEM_END", "capture"},
    {0xC014, "GIGE_REG_IMAGE_MEM_RESERVE", "capture"},
    {0xC018, "GIGE_REG_IMAGE_MEM_LIMIT", "capture"},
    {0xC01C, "GIGE_REG_IMAGE_MEM_BASE", "capture"},
    {0xC020, "GIGE_REG_PIXEL_FORMAT", "sensor"},
    {0xC028, "GIGE_REG_FPN_MODE", "capture"},
    {0xC04C, "GIGE_REG_LOW_LIGHT_ENABLE", "capture"},
    {0xC050, "GIGE_REG_LOW_LIGHT_EXPOSURE", "capture"},
    {0xC054, "GIGE_REG_SENSOR_WIDTH_MIN", "sensor"},
    {0xC058, "GIGE_REG_SENSOR_HEIGHT_MIN", "sensor"},
    {0xC060, "GIGE_REG_CONTROL_KEY", ""},
    {0xC064, "GIGE_REG_SENSOR_TYPE", ""},
    {0xC080, "GIGE_REG_TRIGGER_POSITION", "capture progress"},
    {0xC084, "GIGE_REG_IO_C084", "IO"},
    {0xC088, "GIGE_REG_SYNC_IN_RATE", "IO"},
    {0xC08C, "GIGE_REG_PROGRESS_C08C", "progress"},
    {0xC090, "GIGE_REG_PROGRESS_C090", "progress"},
    {0xC098, "GIGE_REG_BATTERY_CHARGE", ""},
    {0xC09C, "GIGE_REG_BROC_LENGTH", "capture"},
    {0xC0AC, "GIGE_REG_DOWNLOAD_C0AC", "download stream"},
    {0xC0F0, "GIGE_REG_EXPOSURE_OVERHEAD", "capture"},
    {0xC0F8, "GIGE_REG_PB_LAST_FRAME", "playback"},
    {0xC100, "GIGE_REG_PARTITION_STATE", "state"},
    {0xC140, "GIGE_REG_PB_C140", "download playback"},
    {0xC180, "GIGE_REG_PROGRESS_C180", "playback progress"},
    {0xC24C, "GIGE_REG_SETTINGS_BATCH", ""},
    {0xC294, "GIGE_REG_DOWNLOAD_C294", "download"},
    {0xC2B4, "GIGE_REG_DOWNLOAD_C2B4", "download"},
    {0xC2B8, "GIGE_REG_DOWNLOAD_C2B8", "download"},
    {0xC304, "GIGE_REG_ACTIVE_FRAME_NUM", "playback"},
    {0xC7B0, "GIGE_REG_RECORD_MODE", "capture"},
    {0xC7B4, "GIGE_REG_IMAGE_MEM_PAGES", "capture"},
    {0xD300, "GIGE_REG_ROI_WIDTH", "sensor"},
    {0xD304, "GIGE_REG_ROI_HEIGHT", "sensor"},
    {0xD310, "GIGE_REG_STATE_COMMAND", ""},
    {0xD314, "GIGE_REG_STREAM_CONTROL", "playback"},
    {0xE81C, "GIGE_REG_ROI_X_OFFSET", "sensor"},
    {0xE820, "GIGE_REG_ROI_Y_OFFSET", "sensor"},
    {0xE824, "GIGE_REG_FRAME_RATE", "capture"},
    {0xE82C, "GIGE_REG_EXPOSURE", "capture"},
    {0xE830, "GIGE_REG_FRAME_RATE_LIMIT", "sensor"},
    {0xE838, "GIGE_REG_CAPTURE_E838", "capture"},
    {0xE83C, "GIGE_REG_EXPOSURE_MIN", "capture"},
    {0xE844, "GIGE_REG_ANALOG_GAIN", "sensor"},
    {0xE84C, "GIGE_REG_BNS_MODE", "sensor"},
    {0xE854, "GIGE_REG_CAMERA_STATE", "download playback state"},
    {0xE8FC, "GIGE_REG_IO_E8FC", "IO"},
    {0xE900, "GIGE_REG_SYNC_IN", "IO"},
    {0xE904, "GIGE_REG_SYNC_OUT", "IO"},
    {0xE90C, "GIGE_REG_IO_E90C", "IO"},
    {0xE910, "GIGE_REG_TRIGGER_IN_ENABLE", "IO"},
    {0xE914, "GIGE_REG_TRIGGER_IN_EDGE", "IO"},
    {0xE918, "GIGE_REG_DOWNLOAD_E918", "playback"},
    {0xE924, "GIGE_REG_DOWNLOAD_START", "playback"},
    {0xE928, "GIGE_REG_DOWNLOAD_END", "playback"},
    {0xE92C, "GIGE_REG_DOWNLOAD_E92C", "playback"},
    {0xE930, "GIGE_REG_DOWNLOAD_E930", ""},
    {0xE954, "GIGE_REG_IO_E954", "IO"},
    {0xE958, "GIGE_REG_IO_E958", "IO"},
    {0xE95C, "GIGE_REG_IO_E95C", "IO"},
    {0xE960, "GIGE_REG_TRIGGER_OUT", "IO"},
    // The control protocol's own registers: the write gate and the two exempt from it.
    {0xC58C, "GIGE_REG_WRITE_GATE", ""},
    {0xD318, "", ""},
    {0xD518, "", ""},
    // The second family's JSON memory, camera-save and extra registers.
    {0xC0B0, "", ""},
    {0xC0BC, "", ""},
    {0xC0C0, "GIGE_REG_TELEMETRY_JSON", ""},
    {0xC0C8, "", ""},
    {0xC0CC, "", ""},
    {0xC0D0, "", ""},
    {0xC298, "GIGE_REG_SAVE_STATE", ""},
    {0xC2BC, "", ""},
    {0xC308, "", ""},
    {0xC7D0, "GIGE_REG_PROGRESS", ""},
    {0xC7D8, "", ""},
};

constexpr RegisterGroup kGroups[] = {RegisterGroup::Capture, RegisterGroup::Download, RegisterGroup::IO,
                                     RegisterGroup::Lens,    RegisterGroup::Playback, RegisterGroup::Progress,
                                     RegisterGroup::Sensor,  RegisterGroup::State,    RegisterGroup::Stream,
                                     RegisterGroup::Text};

std::vector<uint32_t> listOf(RegisterGroup group)
{
    auto span = groupRegisters(group);
    return {span.begin(), span.end()};
}

bool inGroup(const TypedRegister& row, std::string_view group)
{
    std::istringstream words(row.groups);
    std::string word;
    while (words >> word) {
        if (word == group)
            return true;
    }
    return false;
}

std::string hex(uint32_t address)
{
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << address;
    return out.str();
}

} // namespace

TEST(RegisterMap, EveryTypedAddressHasItsName)
{
    EXPECT_EQ(kTable.size(), 103u);
    std::set<uint32_t> typed;
    for (const TypedRegister& row : kTable) {
        SCOPED_TRACE(hex(row.address));
        EXPECT_TRUE(typed.insert(row.address).second) << "typed twice";
        if (*row.name != 0) {
            EXPECT_EQ(registerName(row.address), row.name);
        } else {
            EXPECT_FALSE(registerName(row.address).empty());
        }
    }
    // Nor does the map name an address the table lacks (a mistyped twin of a real one).
    for (const RegisterInfo& info : allRegisters()) {
        EXPECT_TRUE(typed.count(info.address)) << info.name << " at " << hex(info.address);
    }
}

TEST(RegisterMap, UnknownAddressesHaveNoName)
{
    EXPECT_TRUE(registerName(0x1234).empty());
    EXPECT_TRUE(registerName(0xA021).empty()); // inside a register, not at its address
    EXPECT_TRUE(registerName(0).empty());
    EXPECT_TRUE(registerName(0xFFFFFFFF).empty());
}

TEST(RegisterMap, TableIsSortedAndEveryEntryFindsItself)
{
    auto all = allRegisters();
    ASSERT_FALSE(all.empty());
    std::set<std::string_view> names;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(all[i - 1].address, all[i].address) << all[i].name;
        }
        EXPECT_EQ(registerName(all[i].address), all[i].name);
        EXPECT_TRUE(names.insert(all[i].name).second) << "duplicate name " << all[i].name;
    }
}

TEST(RegisterMap, GroupListsInTableOrder)
{
    using List = std::vector<uint32_t>;
    EXPECT_EQ(listOf(RegisterGroup::Capture),
              (List{0xC028, 0xC7B0, 0xC7B4, 0xC09C, 0xC010, 0xC01C, 0xC080, 0xE824, 0xE82C, 0xE838, 0xE83C, 0xC04C,
                    0xC050, 0xC014, 0xC018, 0xC0F0, 0xA030}));
    EXPECT_EQ(listOf(RegisterGroup::Download), (List{0xC294, 0xC2B4, 0xC2B8, 0xC0AC, 0xE854, 0xC140}));
    EXPECT_EQ(listOf(RegisterGroup::IO), (List{0xC088, 0xE8FC, 0xE900, 0xE904, 0xE90C, 0xE910, 0xE914, 0xE954, 0xE958,
                                               0xA03C, 0xE95C, 0xE960, 0xC084}));
    EXPECT_TRUE(listOf(RegisterGroup::Lens).empty());
    EXPECT_EQ(listOf(RegisterGroup::Playback), (List{0xB800, 0xB804, 0xB814, 0xB818, 0xE924, 0xE928, 0xE918, 0xD314,
                                                     0xE92C, 0xB824, 0xE854, 0xC0F8, 0xC304, 0xC140, 0xC180}));
    EXPECT_EQ(listOf(RegisterGroup::Progress), (List{0xC008, 0xA054, 0xA058, 0xA050, 0xC080, 0xC08C, 0xC090, 0xC180}));
    EXPECT_EQ(listOf(RegisterGroup::Sensor), (List{0xC020, 0xD300, 0xD304, 0xE81C, 0xE820, 0xE830, 0xE844, 0xE84C}));
    EXPECT_EQ(listOf(RegisterGroup::State), (List{0xE854, 0xC100}));
    EXPECT_EQ(listOf(RegisterGroup::Stream), (List{0xC0AC, 0x0D08}));
    EXPECT_EQ(listOf(RegisterGroup::Text), (List{0x0048, 0x0068, 0x0088, 0x00A8, 0x00D8, 0x00E8}));
}

// The per-register group column and the group lists are two tables: they must agree both ways.
// The sensor object's registers (minimum and maximum ROI) join the sensor group later, so the
// sensor group is checked one way only.
TEST(RegisterMap, EveryRegisterSitsInTheGroupsItsRowNames)
{
    for (RegisterGroup group : kGroups) {
        const std::vector<uint32_t> members = listOf(group);
        for (const TypedRegister& row : kTable) {
            const bool listed = std::find(members.begin(), members.end(), row.address) != members.end();
            if (inGroup(row, groupName(group))) {
                EXPECT_TRUE(listed || group == RegisterGroup::Sensor)
                    << hex(row.address) << " not in " << groupName(group);
            } else {
                EXPECT_FALSE(listed) << hex(row.address) << " unexpectedly in " << groupName(group);
            }
        }
    }
}
