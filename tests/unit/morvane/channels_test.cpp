// The memory-register exchanges behind the JSON texts, against a camera scripted in memory:
// chunked reads, rewinds, busy cameras, and texts that never end.
#include <gtest/gtest.h>

#include <deque>

#include <hlv_thread/period_scale.h>

#include "morvane/morvane_channels.h"

using namespace halvex::control;
using namespace halvex::wire;

using namespace halvex::morvane::channels;

namespace {

// A camera whose memory reads hand out a text in successive reads (zero-filled past its end, as
// cameras do), after answering a scripted list of results first.
class TextCamera : public RegisterChannel {
public:
    std::string text;
    std::size_t cursor = 0;
    std::deque<uint32_t> results; // answered before any data
    uint32_t writeResult = 0;
    int reads = 0;
    RegisterPairs writes;
    bool endless = false;

    uint32_t readReg(uint32_t, uint32_t&) override { return 8; }
    uint32_t writeReg(uint32_t reg, uint32_t value) override
    {
        writes.push_back({reg, value});
        if (value == 0)
            cursor = 0;
        return writeResult;
    }
    uint32_t readMultiReg(RegisterPairs&) override { return 8; }
    uint32_t writeMultiReg(const RegisterPairs&) override { return 8; }
    uint32_t readMem(uint32_t, std::vector<uint8_t>& data, uint32_t count) override
    {
        ++reads;
        if (!results.empty()) {
            const uint32_t result = results.front();
            results.pop_front();
            if (result != 0)
                return result;
        }
        data.assign(count == 0 ? 536 : count, 0);
        for (std::size_t i = 0; i < data.size() && (endless || cursor < text.size()); ++i, ++cursor)
            data[i] = endless ? 'x' : static_cast<uint8_t>(text[cursor]);
        return 0;
    }
};

} // namespace

TEST(ChunkedText, FailuresFullChunksAndEndlessTexts)
{
    TextCamera camera;
    camera.writeResult = 9;
    EXPECT_EQ(readChunkedText(camera, 0xC0C0).failure, ChunkedFailure::Rewind);
    EXPECT_EQ(camera.reads, 0);

    camera.writeResult = 0;
    camera.results = {0, 12};
    camera.text = std::string(600, 'q');
    const ChunkedText failed = readChunkedText(camera, 0xC0C0);
    EXPECT_EQ(failed.failure, ChunkedFailure::Read);
    EXPECT_EQ(failed.result, 12u);

    camera.text = std::string(512, 'y');
    camera.reads = 0;
    EXPECT_EQ(readChunkedText(camera, 0xC0C0).text, camera.text);
    EXPECT_EQ(camera.reads, 2) << "a text of exactly one chunk needs an empty read to end";

    camera.endless = true;
    EXPECT_EQ(readChunkedText(camera, 0xC0C0).failure, ChunkedFailure::TooLong);
}

TEST(SingleText, ABusyCameraIsAskedTenTimesAtMost)
{
    halvex::thread::setPeriodScale(0.01);
    TextCamera camera;
    camera.text = R"({"connected":true})";
    camera.results = {12, 12};
    uint32_t result = 0;
    EXPECT_EQ(readText(camera, 0xC0CC, result), std::optional<std::string>(camera.text));
    EXPECT_EQ(camera.reads, 3);

    camera.reads = 0;
    camera.results = std::deque<uint32_t>(20, 12);
    EXPECT_FALSE(readText(camera, 0xC0CC, result));
    EXPECT_EQ(camera.reads, 10);
    EXPECT_EQ(result, 12u);

    camera.reads = 0;
    camera.results = {9};
    EXPECT_FALSE(readText(camera, 0xC0CC, result));
    EXPECT_EQ(camera.reads, 1) << "only a busy camera is asked again";
    halvex::thread::setPeriodScale(1.0);
}
