// Family detection over the model window, and the refusal test for other texts.
#include "registers/model_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace halvex::registers;

namespace {

// A 536-byte window with `text` placed at `offset` and NULs elsewhere.
std::vector<uint8_t> window(std::string_view text, std::size_t offset = 0)
{
    std::vector<uint8_t> bytes(MODEL_WINDOW_SIZE, 0);
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return bytes;
}

} // namespace

TEST(ModelCodes, FamilyFromEachCode)
{
    EXPECT_EQ(familyFromWindow(window("HX-qT2000")), CameraFamily::Tarrow);
    EXPECT_EQ(familyFromWindow(window("HX-qX4")), CameraFamily::Tarrow);
    EXPECT_EQ(familyFromWindow(window("qM9")), CameraFamily::Morvane);
    EXPECT_EQ(familyFromWindow(window("plain model")), std::nullopt);
    EXPECT_EQ(familyFromWindow({}), std::nullopt);
}

TEST(ModelCodes, SearchIsCaseSensitiveAndCoversTheWholeWindow)
{
    EXPECT_EQ(familyFromWindow(window("QT qt Qm")), std::nullopt);
    // Past the model name's own 32 bytes and behind NULs: still found.
    EXPECT_EQ(familyFromWindow(window("qM", 400)), CameraFamily::Morvane);
    EXPECT_EQ(familyFromWindow(window("qX", MODEL_WINDOW_SIZE - 2)), CameraFamily::Tarrow);
    // A code split by a NUL is no code.
    auto split = window("q");
    split[2] = 'T';
    EXPECT_EQ(familyFromWindow(split), std::nullopt);
}

TEST(ModelCodes, TarrowCodesWinOverMorvane)
{
    EXPECT_EQ(familyFromWindow(window("qM and qT")), CameraFamily::Tarrow);
    EXPECT_EQ(familyFromWindow(window("qM then qX")), CameraFamily::Tarrow);
}

TEST(ModelCodes, ContainsFamilyCode)
{
    EXPECT_TRUE(containsFamilyCode("camqT"));
    EXPECT_TRUE(containsFamilyCode("aqMb"));
    EXPECT_FALSE(containsFamilyCode("left bench"));
    EXPECT_FALSE(containsFamilyCode(""));
    EXPECT_FALSE(containsFamilyCode("q"));
}
