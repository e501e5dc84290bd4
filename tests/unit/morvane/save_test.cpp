// Camera save settings translated into the camera's request, refusals before anything is sent,
// and the camera's save state read as progress.
#include <gtest/gtest.h>

#include "morvane/morvane_documents.h"
#include "morvane/morvane_save.h"

using namespace halvex::morvane::save;

namespace {

std::optional<SaveRequest> translateText(const std::string& text, bool colour = false)
{
    Json::Value settings;
    EXPECT_TRUE(halvex::morvane::documents::parse(text, settings, "test")) << text;
    return translate(settings, colour, "test");
}

} // namespace

TEST(SaveSettings, FormatDestinationTagAndNameFlagsFormDstInfo)
{
    struct Case {
        const char* extra;
        uint32_t dstInfo;
    } cases[] = {
        {R"("format":16,"dst_info":4)", 0x80000403u | 102400},
        {R"("format":32,"dst_info":1,"playback_rate":0)", 0x10Bu | 102400},
        {R"("format":4,"dst_info":2,"tag":{"x":1})", 0x202u | 102400 | kTagged},
        {R"("format":2,"dst_info":1,"use_camera_name":true,"playback_rate":1000)",
         0x103u | (1000u << 12) | kUseCameraName},
        {R"("format":8,"dst_info":4)", 0x404u | 102400},
    };
    for (const Case& c : cases) {
        const auto save =
            translateText(std::string(R"({"dstpath":"p","frame_start":0,"frame_end":0,)") + c.extra + "}", true);
        ASSERT_TRUE(save) << c.extra;
        EXPECT_EQ(save->request["dst_info"].asUInt(), c.dstInfo) << c.extra;
        EXPECT_EQ(save->jpegQuality, 0u) << "quality only goes with JPEG";
    }
}

TEST(SaveSettings, IncompleteOrWrongSettingsAreRefused)
{
    const std::string base = R"("dstpath":"p","frame_start":1,"frame_end":5,)";
    EXPECT_FALSE(translateText("{" + base + R"("format":8,"dst_info":1})", false)) << "DNG on a monochrome sensor";
    EXPECT_FALSE(translateText("{" + base + R"("format":1,"dst_info":3})"));
    EXPECT_FALSE(translateText("{" + base + R"("format":3,"dst_info":1})"));
    EXPECT_FALSE(translateText("{" + base + R"("dst_info":1})"));
    EXPECT_FALSE(translateText("{" + base + R"("format":1})"));
    EXPECT_FALSE(translateText(R"({"frame_start":1,"frame_end":5,"format":1,"dst_info":1})"));
    EXPECT_FALSE(translateText(R"({"dstpath":"p","frame_start":1,"format":1,"dst_info":1})"));
    EXPECT_FALSE(translateText(R"({"dstpath":"p","frame_start":9,"frame_end":5,"format":1,"dst_info":1})"));
    EXPECT_FALSE(translateText("{" + base + R"("format":1,"dst_info":1,"playback_rate":100000})"));
    EXPECT_THROW(translateText("{" + base + R"("format":"jpeg","dst_info":1})"), Json::LogicError);
}

TEST(SaveState, IdleErrorAndProgressReadAsProgressFigures)
{
    HX_PROGRESS record{};
    fillProgress(interpret(0x00000025), 10, 7, record);
    EXPECT_EQ(record.percent, 0x25u);
    EXPECT_EQ(record.error, 0u);
    EXPECT_EQ(record.total_frames, 10u);
    EXPECT_EQ(record.camera_progress, 7u);

    const SaveStatus failed = interpret(0x40000002);
    EXPECT_EQ(failed.kind, SaveStatus::Kind::Failed);
    fillProgress(failed, 10, 7, record);
    EXPECT_EQ(record.error, 2u);

    const SaveStatus idle = interpret(0x80000000);
    EXPECT_EQ(idle.kind, SaveStatus::Kind::Idle);
    fillProgress(idle, 10, 9, record);
    EXPECT_EQ(record.percent, 100u);
    EXPECT_EQ(record.error, 0u);
}
