// The second family's lens and temperature texts: reading them into the records and building
// the lens settings text, including texts a faulty camera might send.
#include <gtest/gtest.h>

#include <cstring>

#include "morvane/morvane_documents.h"
#include "record_fields.h"

using namespace halvex::morvane::documents;

namespace {

using hx_test::setField;

Json::Value document(const std::string& text)
{
    Json::Value value;
    EXPECT_TRUE(parse(text, value, "test")) << text;
    return value;
}

HX_LENS_STATUS lensRecord()
{
    HX_LENS_STATUS record{};
    std::strcpy(record.name, "before");
    record.focal_len_tele = 7;
    return record;
}

} // namespace

TEST(LensStatusText, FNumbersAreTenthsTruncatedAndMissingKeysReadAsZero)
{
    HX_LENS_STATUS record = lensRecord();
    record.focus_pos = 99;
    ASSERT_TRUE(fillLensStatus(document(R"({"connected":true,"powered":true,"talking":false,
        "f_number":2.8,"f_minimum":2.85,"f_maximum":22,"focus_near":300,"zoom_pos":12,"manual_focus":true})"),
                               record, "test"));
    EXPECT_EQ(record.f_number_num, 28u);
    EXPECT_EQ(record.f_number_den, 10u);
    EXPECT_EQ(record.f_minimum_num, 28u);
    EXPECT_EQ(record.f_maximum_num, 220u);
    EXPECT_EQ(record.connected, 1u);
    EXPECT_EQ(record.talking, 0u);
    EXPECT_EQ(record.focus_near, 300u);
    EXPECT_EQ(record.zoom_pos, 12u);
    EXPECT_EQ(record.manual_focus, 1u);
    EXPECT_EQ(record.focus_pos, 0u) << "a missing key reads as 0";
    EXPECT_STREQ(record.name, "before") << "the status text never touches the information part";
}

TEST(LensTexts, MalformedTruncatedAndWronglyTypedTextsAreRefusedWithoutHarm)
{
    Json::Value value;
    EXPECT_FALSE(parse(R"({"connected":tr)", value, "test"));
    EXPECT_FALSE(parse("not json", value, "test"));
    EXPECT_FALSE(parse("[1,2]", value, "test")) << "a text that is no object";
    EXPECT_FALSE(parse("", value, "test"));

    HX_LENS_STATUS record = lensRecord();
    EXPECT_FALSE(fillLensStatus(document(R"({"focus_pos":"near"})"), record, "test"));
    HX_TEMPERATURE temperatures{};
    EXPECT_FALSE(fillTemperature(document(R"({"temp_sensor":"hot"})"), temperatures, "t"));
    EXPECT_FALSE(fillLensStatus(document(R"({"focus_pos":-3})"), record, "test"));
    EXPECT_FALSE(fillLensStatus(document(R"({"f_number":1e300})"), record, "test"));
    EXPECT_FALSE(fillLensInfo(document(R"({"connected":true,"powered":true,"talking":true,"name":{"a":1}})"), record,
                              "test", "cam"));
}

TEST(LensSettingsText, OnlyFlaggedFieldsAreSentOnOneLineInKeyOrder)
{
    HX_LENS_SETTINGS record{};
    setField(record.power, record.power_flags, 1);
    record.zoom_pos = 40;
    EXPECT_EQ(lensSettingsText(record, "test", "cam"), std::optional<std::string>(R"({"power":1})"));

    record.f_number_num = 28;
    record.f_number_den = 10;
    record.f_number_flags = HX_FLAG_SET;
    setField(record.focus_pos, record.focus_pos_flags, 1234);
    record.zoom_pos_flags = HX_FLAG_SET;
    EXPECT_EQ(lensSettingsText(record, "test", "cam"),
              std::optional<std::string>(R"({"f_number":2.8,"focus_dist":1234,"power":1,"zoom_enc":40})"));
}

TEST(LensSettingsText, AZeroDenominatorLeavesTheFNumberOutAndMarksIt)
{
    HX_LENS_SETTINGS record{};
    record.f_number_num = 28;
    record.f_number_flags = HX_FLAG_SET;
    EXPECT_EQ(lensSettingsText(record, "test", "cam"), std::optional<std::string>("{}"));
    EXPECT_NE(record.f_number_flags & HX_FLAG_ERR, 0u);
}
