// hxcam's capture settings on the command line: the forms each key accepts, what they mark for
// writing, and the text a script reads back.
#include <gtest/gtest.h>

#include <algorithm>

#include "capture_fields.h"

namespace {

HX_CAPTURE_SETTINGS freshRecord()
{
    HX_CAPTURE_SETTINGS record{};
    record.ver_maj = HX_API_VERSION_MAJ;
    record.ver_min = HX_API_VERSION_MIN;
    return record;
}

bool apply(HX_CAPTURE_SETTINGS& record, const std::string& assignment)
{
    std::string error;
    return halvex::common::applyCaptureSetting(record, assignment, error);
}

bool hasLine(const std::vector<std::string>& lines, const std::string& start)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

TEST(CaptureFields, ValuesAreWrittenAndMarkedForWriting)
{
    HX_CAPTURE_SETTINGS record = freshRecord();
    ASSERT_TRUE(apply(record, "roi=1024x512+512+256"));
    EXPECT_EQ(record.width, 1024u);
    EXPECT_EQ(record.height, 512u);
    EXPECT_EQ(record.x_offset, 512u);
    EXPECT_EQ(record.y_offset, 256u);
    EXPECT_EQ(record.y_offset_flags, uint32_t{HX_FLAG_SET});
    EXPECT_EQ(record.sensor_group_flags, uint32_t{HX_FLAG_SET});
    EXPECT_EQ(record.record_group_flags, 0u);

    ASSERT_TRUE(apply(record, "fps=29.97"));
    EXPECT_EQ(record.rate, 2997u);
    EXPECT_EQ(record.rate_divisor, 100u);
    ASSERT_TRUE(apply(record, "fps=500"));
    EXPECT_EQ(record.rate_divisor, 1u);
    EXPECT_EQ(record.record_group_flags, uint32_t{HX_FLAG_SET});

    ASSERT_TRUE(apply(record, "bit-mode=10b"));
    EXPECT_EQ(record.bit_mode, uint32_t{HX_BIT_MODE_10B});
    ASSERT_TRUE(apply(record, "record-mode=ltr"));
    EXPECT_EQ(record.record_mode, 2u);
    ASSERT_TRUE(apply(record, "exposure=0x100"));
    EXPECT_EQ(record.exposure, 256u);
    ASSERT_TRUE(apply(record, "roi=640x480"));
    EXPECT_EQ(record.x_offset, 512u); // offsets left as they were
}

TEST(CaptureFields, MalformedSettingsAreRefusedWithAReason)
{
    HX_CAPTURE_SETTINGS record = freshRecord();
    for (const char* bad : {"fps", "=5", "colour=red", "fps=-1", "fps=1.2345", "fps=1e3", "width=4294967296",
                            "width=12abc", "roi=1024x", "roi=1024x512+3", "bns=3x3", "exposure="}) {
        std::string error;
        EXPECT_FALSE(halvex::common::applyCaptureSetting(record, bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_EQ(record.flags, 0u) << "a refused setting must mark nothing for writing";
    EXPECT_EQ(record.width_flags, 0u);
}

TEST(CaptureFields, TheRecordReadsAsKeyValueLinesWithLimitsAndOutcome)
{
    HX_CAPTURE_SETTINGS record = freshRecord();
    record.width = 2048;
    record.width_min = 64;
    record.width_max = 2048;
    record.width_constr = 4;
    record.height = 1024;
    record.bit_mode = HX_BIT_MODE_8A;
    record.bit_mode_caps = 0x27;
    record.rate = 0x1DF851;
    record.rate_divisor = 65536;
    record.rate_flags = HX_FLAG_SET | HX_FLAG_ERR;
    record.rate_min = 24;
    record.rate_max = 2634;
    record.exposure = 100;
    record.exposure_flags = HX_FLAG_SET | HX_FLAG_CHG;
    record.height_flags = HX_FLAG_SET | HX_FLAG_CHG; // limits changed, value as asked
    HX_CAPTURE_SETTINGS requested = record;
    requested.exposure = 150;
    const std::vector<std::string> lines = halvex::common::describeCapture(record, &requested);
    EXPECT_TRUE(hasLine(lines, "roi=2048x1024+0+0"));
    EXPECT_TRUE(hasLine(lines, "width=2048          # 64..2048 step 4"));
    EXPECT_TRUE(hasLine(lines, "bit-mode=8a         # offered: 8a 8b 8c 10a"));
    EXPECT_TRUE(hasLine(lines, "fps=29.97           # 24..2634  [refused]"));
    EXPECT_TRUE(hasLine(lines, "exposure=100"));
    EXPECT_NE(lines.back().find("low-light=0"), std::string::npos);
    EXPECT_TRUE(hasLine(lines, "exposure=100        # 0..0  [changed]"));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("[changed]") != std::string::npos; }),
              1);
    EXPECT_EQ(halvex::common::refusedFields(record), std::vector<std::string>{"fps=29.97 (24..2634)"});
    requested.rate = 9999;
    requested.rate_divisor = 1;
    EXPECT_EQ(halvex::common::refusedFields(record, &requested), std::vector<std::string>{"fps=9999 (24..2634)"});
}

TEST(CaptureFields, ExposuresFollowTheFramePeriodTheyDependOn)
{
    HX_CAPTURE_SETTINGS request = freshRecord();
    ASSERT_TRUE(apply(request, "fps=1000"));
    ASSERT_TRUE(apply(request, "exposure=900"));
    HX_CAPTURE_SETTINGS exposure;
    ASSERT_TRUE(halvex::common::split(request, exposure));
    EXPECT_EQ(request.exposure_group_flags & HX_FLAG_SET, 0u);
    EXPECT_EQ(request.record_group_flags, uint32_t{HX_FLAG_SET});
    EXPECT_EQ(exposure.record_group_flags & HX_FLAG_SET, 0u);
    EXPECT_EQ(exposure.exposure_group_flags, uint32_t{HX_FLAG_SET});
    EXPECT_EQ(exposure.exposure, 900u);

    HX_CAPTURE_SETTINGS alone = freshRecord();
    ASSERT_TRUE(apply(alone, "exposure=900"));
    EXPECT_FALSE(halvex::common::split(alone, exposure));

    // The outcome of the first call survives the second.
    HX_CAPTURE_SETTINGS first = request;
    first.rate_flags |= HX_FLAG_ERR;
    first.record_group_flags |= HX_FLAG_ERR;
    first.flags |= HX_FLAG_ERR;
    HX_CAPTURE_SETTINGS second = freshRecord();
    second.exposure_flags = HX_FLAG_SET;
    halvex::common::keepOutcome(first, second);
    EXPECT_EQ(second.rate_flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR});
    EXPECT_EQ(second.flags & HX_FLAG_ERR, uint32_t{HX_FLAG_ERR});
    EXPECT_EQ(second.exposure_flags, uint32_t{HX_FLAG_SET});
}

} // namespace
