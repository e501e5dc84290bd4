// Register names and group lists, checked against values typed from the register tables.
#include "registers/register_map.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

using namespace HX_REGISTERS;

namespace {

std::vector<uint32_t> listOf(RegisterGroup group) {
    auto span = groupRegisters(group);
    return {span.begin(), span.end()};
}

}  // namespace

TEST(RegisterMap, NamesAddressesFromTheTables) {
    EXPECT_EQ(registerName(0xA020), "GIGE_REG_SENSOR_WIDTH_MAX");
    EXPECT_EQ(registerName(0xE854), "GIGE_REG_CAMERA_STATE");
    EXPECT_EQ(registerName(0xD314), "GIGE_REG_STREAM_CONTROL");
    EXPECT_EQ(registerName(0xB824), "GIGE_REG_CSI_RVW_FRAME_NUM");
    EXPECT_EQ(registerName(0xE960), "GIGE_REG_TRIGGER_OUT");
    EXPECT_EQ(registerName(0x0938), "GIGE_REG_HEARTBEAT_TIMEOUT");
    EXPECT_EQ(registerName(0x0048), "GIGE_REG_MANUFACTURER_NAME");
    EXPECT_EQ(registerName(0xC58C), "GIGE_REG_WRITE_GATE");
    EXPECT_EQ(registerName(0xC298), "GIGE_REG_SAVE_STATE");
}

TEST(RegisterMap, UnknownAddressesHaveNoName) {
    EXPECT_TRUE(registerName(0x1234).empty());
    EXPECT_TRUE(registerName(0xA021).empty());  // inside a register, not at its address
    EXPECT_TRUE(registerName(0).empty());
    EXPECT_TRUE(registerName(0xFFFFFFFF).empty());
}

TEST(RegisterMap, TableIsSortedAndEveryEntryFindsItself) {
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

TEST(RegisterMap, GroupListsInTableOrder) {
    EXPECT_EQ(listOf(RegisterGroup::Capture),
              (std::vector<uint32_t>{0xC028, 0xC7B0, 0xC7B4, 0xC09C, 0xC010, 0xC01C, 0xC080, 0xE824, 0xE82C,
                                     0xE838, 0xE83C, 0xC04C, 0xC050, 0xC014, 0xC018, 0xC0F0, 0xA030}));
    EXPECT_EQ(listOf(RegisterGroup::Playback),
              (std::vector<uint32_t>{0xB800, 0xB804, 0xB814, 0xB818, 0xE924, 0xE928, 0xE918, 0xD314, 0xE92C,
                                     0xB824, 0xE854, 0xC0F8, 0xC304, 0xC140, 0xC180}));
    EXPECT_EQ(listOf(RegisterGroup::Progress),
              (std::vector<uint32_t>{0xC008, 0xA054, 0xA058, 0xA050, 0xC080, 0xC08C, 0xC090, 0xC180}));
    EXPECT_EQ(listOf(RegisterGroup::Sensor),
              (std::vector<uint32_t>{0xC020, 0xD300, 0xD304, 0xE81C, 0xE820, 0xE830, 0xE844, 0xE84C}));
    EXPECT_EQ(listOf(RegisterGroup::State), (std::vector<uint32_t>{0xE854, 0xC100}));
    EXPECT_EQ(listOf(RegisterGroup::Stream), (std::vector<uint32_t>{0xC0AC, 0x0D08}));
    EXPECT_EQ(listOf(RegisterGroup::Text), (std::vector<uint32_t>{0x0048, 0x0068, 0x0088, 0x00A8, 0x00D8, 0x00E8}));
    EXPECT_TRUE(listOf(RegisterGroup::Lens).empty());
    EXPECT_EQ(listOf(RegisterGroup::Download).size(), 6u);
    EXPECT_EQ(listOf(RegisterGroup::IO).size(), 13u);
}

TEST(RegisterMap, EveryGroupedAddressIsNamed) {
    for (auto group : {RegisterGroup::Capture, RegisterGroup::Download, RegisterGroup::IO, RegisterGroup::Playback,
                       RegisterGroup::Progress, RegisterGroup::Sensor, RegisterGroup::State, RegisterGroup::Stream,
                       RegisterGroup::Text}) {
        for (uint32_t address : groupRegisters(group)) {
            EXPECT_FALSE(registerName(address).empty()) << groupName(group) << " 0x" << std::hex << address;
        }
    }
}
