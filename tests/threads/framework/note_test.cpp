// Tests of Note texts and the exception family built on it.
#include <regex>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "hlv_thread/note.h"

namespace {

const std::string stampPrefix = R"(\d{8} \d{6}\.\d{6}: )";

const wchar_t unconvertible[] = {static_cast<wchar_t>(0xE9), 0};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"

TEST(Note, EntriesShareOneTimeStampAndIndentContinuations)
{
    halvex::thread::Note note;
    note.add("src/api.cpp", 42, "Client handle %p not valid", static_cast<void*>(nullptr));
    note.add("while %s", "registering");
    note.add("src/other.cpp", 7, "%d", 5);

    const std::string text = note.str();
    EXPECT_TRUE(std::regex_match(
        text,
        std::regex(stampPrefix +
                   R"(src/api\.cpp, 42: Client handle .* not valid\n  while registering\n  src/other\.cpp, 7: 5)")))
        << text;
    EXPECT_EQ(std::regex_search(text.substr(1), std::regex(R"(\d{8} \d{6}\.)")), false) << "only one time stamp";
}

TEST(Note, FallbackTexts)
{
    halvex::thread::Note located;
    located.add("f.cpp", 3, "");
    EXPECT_TRUE(std::regex_match(located.str(), std::regex(stampPrefix + "f\\.cpp, 3: empty exception message\\.")))
        << located.str();

    halvex::thread::Note unlocated; // an unlocated first entry carries no time stamp
    unlocated.add("");
    unlocated.add("%ls", unconvertible);
    EXPECT_EQ(unlocated.str(), "empty message.\n  vsnprintf() fault in processing exception message.");

    halvex::thread::Note fault;
    fault.add("g.cpp", 9, "%ls", unconvertible);
    EXPECT_TRUE(std::regex_match(
        fault.str(), std::regex(stampPrefix + "g\\.cpp, 9: vsnprintf\\(\\) fault in processing exception message\\.")))
        << fault.str();
}

#pragma GCC diagnostic pop

TEST(Note, CopiesAreIndependent)
{
    halvex::thread::Note original;
    original.add("first");
    halvex::thread::Note copy(original);
    copy.add("second");
    EXPECT_EQ(original.str(), "first");
    EXPECT_EQ(copy.str(), "first\n  second");
}

void throwLogicError()
{
    HLV_THROW(halvex::thread::LogicError, "forward() with empty route and %s owner", "nullptr");
}

TEST(Exceptions, ThrownLocatedAndInvisibleToStandardCatch)
{
    bool caughtAsStandard = false;
    std::string text;
    try {
        try {
            throwLogicError();
        } catch (const std::exception&) {
            caughtAsStandard = true;
        }
    } catch (halvex::thread::Exception& error) {
        error.add("\n  Unhandled Halvex exception reached root of MsgThread");
        text = error.str();
    }
    EXPECT_FALSE(caughtAsStandard);
    EXPECT_TRUE(std::regex_match(
        text, std::regex(stampPrefix + ".*note_test\\.cpp, \\d+: forward\\(\\) with empty route and nullptr owner\n  "
                                       "\n  Unhandled Halvex exception reached root of MsgThread")))
        << text;
}

} // namespace
