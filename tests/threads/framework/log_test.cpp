// Tests of the log: line format, trace mask rules, the log file and fmtToString's fallbacks.
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "hlv_thread/log.h"
#include "log_capture.h"

using namespace halvex::thread;

namespace {

using hx_test::LogCapture;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A private directory for log files, removed with its files afterwards.
class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/hlv_log_test.XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~TempDir()
    {
        for (const auto& name : {"a.log", "b.log"})
            ::unlink((path_ + "/" + name).c_str());
        ::rmdir(path_.c_str());
    }
    std::string file(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Restores the process-wide mask and log file that a test changes.
class LogTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        halvex::thread::setTraceMask(savedMask_);
        halvex::thread::loggerFile(nullptr);
    }

private:
    uint32_t savedMask_ = halvex::thread::traceMask();
};

TEST_F(LogTest, LocationLineCarriesTimeStampFileLineAndText)
{
    LogCapture capture;
    const int line = __LINE__ + 1;
    HLV_LOG("%s: cli_h=%d, cam_h=%s", "HX_analog_gain", 7, "10.0.0.2");

    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    const std::regex expected(R"(\d{8} \d{6}\.\d{6}: )" + std::string(__FILE__) + ", " + std::to_string(line) +
                              ": HX_analog_gain: cli_h=7, cam_h=10\\.0\\.0\\.2");
    EXPECT_TRUE(std::regex_match(lines[0], expected)) << lines[0];
}

TEST_F(LogTest, RawLinesReachStandardOutputWithLineFeed)
{
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    halvex::thread::logRaw(3, "raw line without stamp");
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);
    ::close(pipeEnds[1]);

    char buffer[256] = {};
    const ssize_t length = ::read(pipeEnds[0], buffer, sizeof buffer - 1);
    ::close(pipeEnds[0]);
    EXPECT_EQ(std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0), "raw line without stamp\n");
}

TEST_F(LogTest, TraceMaskRules)
{
    EXPECT_EQ(halvex::thread::traceMask(), 5u) << "initial mask";
    EXPECT_FALSE(halvex::thread::traced(halvex::thread::TRACE_API));

    LogCapture capture;
    HLV_TRACE(halvex::thread::TRACE_API, "%s", "entry line hidden by default");
    HLV_LOG("%s", "NULL pointer in API call");
    EXPECT_EQ(capture.count("entry line hidden by default"), 0u);
    EXPECT_EQ(capture.count("NULL pointer in API call"), 1u);

    EXPECT_EQ(halvex::thread::traceSwitch(1), 0x3FF5u);
    EXPECT_TRUE(halvex::thread::traced(halvex::thread::TRACE_API));
    EXPECT_TRUE(halvex::thread::traced(halvex::thread::TRACE_SOCKET));
    EXPECT_FALSE(halvex::thread::traced(halvex::thread::TRACE_PACKING)) << "never switched on by HX_trace";
    EXPECT_EQ(halvex::thread::traceSwitch(0), 0u);
    EXPECT_FALSE(halvex::thread::traced(halvex::thread::TRACE_API));
    EXPECT_EQ(halvex::thread::traceSwitch(-3), 0x3FF1u);

    HLV_TRACE(halvex::thread::TRACE_COMM, "%s", "traced line");
    EXPECT_EQ(capture.count("traced line"), 1u);

    halvex::thread::setTraceMask(0xFFFFFFFFu);
    EXPECT_FALSE(halvex::thread::traced(halvex::thread::TRACE_COMM)) << "silent bit wins over every category";
    HLV_TRACE(halvex::thread::TRACE_COMM, "%s", "silenced line");
    HLV_LOG("%s", "error line while silent");
    EXPECT_EQ(capture.count("silenced line"), 0u);
    EXPECT_EQ(capture.count("error line while silent"), 1u);
}

TEST_F(LogTest, LogFileTakesLinesAndRefusesASecondOpen)
{
    TempDir dir;
    const std::string first = dir.file("a.log");
    const std::string second = dir.file("b.log");
    // Writing starts at the beginning of an existing file, which is neither truncated nor appended to.
    const std::string oldContent(300, 'X');
    std::ofstream(first) << oldContent;

    EXPECT_EQ(halvex::thread::loggerFile(nullptr), 0) << "closing with no file open";
    EXPECT_EQ(halvex::thread::loggerFile("/nonexistent-dir/x.log"), 1);
    ASSERT_EQ(halvex::thread::loggerFile(first.c_str()), 0) << "a failed open leaves no file marked open";
    HLV_LOG("%s", "line one");
    EXPECT_EQ(halvex::thread::loggerFile(second.c_str()), 1);
    halvex::thread::logRaw(7, "line two");
    EXPECT_EQ(halvex::thread::loggerFile(nullptr), 0);
    halvex::thread::logRaw(7, "line after close");

    const std::string content = readFile(first);
    EXPECT_TRUE(
        std::regex_search(content, std::regex(R"(^\d{8} \d{6}\.\d{6}: .*log_test\.cpp, \d+: line one\nline two\nX+$)")))
        << content;
    EXPECT_EQ(content.size(), oldContent.size());
    EXPECT_EQ(content.find("line after close"), std::string::npos);
    EXPECT_NE(::access(second.c_str(), F_OK), 0) << "the refused file must not be created";
}

// What a host's sink was handed, and what reached standard output meanwhile.
struct SinkRecord {
    std::vector<std::pair<int, std::string>> lines;
    static void take(int priority, const char* text, void* context)
    {
        static_cast<SinkRecord*>(context)->lines.emplace_back(priority, text);
    }
};

// Runs `body` with standard output sent into a pipe; returns what it wrote.
template <class Body>
std::string standardOutputOf(Body body)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return "(no pipe)";
    std::fflush(stdout);
    const int savedStdout = ::dup(STDOUT_FILENO);
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    body();
    std::fflush(stdout);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);
    ::close(pipeEnds[1]);
    char buffer[1024] = {};
    const ssize_t length = ::read(pipeEnds[0], buffer, sizeof buffer - 1);
    ::close(pipeEnds[0]);
    return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

TEST_F(LogTest, HostSinkTakesBareLinesInsteadOfStandardOutputButNotInsteadOfTheFile)
{
    TempDir dir;
    ASSERT_EQ(halvex::thread::loggerFile(dir.file("a.log").c_str()), 0);
    halvex::thread::setTraceMask(halvex::thread::TRACE_COMM);
    SinkRecord record;
    const std::string printed = standardOutputOf([&] {
        halvex::thread::setLogSink(&SinkRecord::take, &record);
        HLV_LOG("%s %d", "refused width", 4096);
        HLV_TRACE(halvex::thread::TRACE_COMM, "%s", "a traced exchange");
        halvex::thread::logRaw(halvex::thread::LOG_PRIORITY_ERROR, "raw error");
        halvex::thread::setLogSink(nullptr, nullptr);
        HLV_LOG("%s", "after the sink went");
    });

    const std::vector<std::pair<int, std::string>> expected = {
        {3, "refused width 4096"}, {7, "a traced exchange"}, {3, "raw error"}};
    EXPECT_EQ(record.lines, expected);
    EXPECT_EQ(printed.find("refused width"), std::string::npos) << printed;
    EXPECT_NE(printed.find("after the sink went"), std::string::npos) << "standard output again: " << printed;
    const std::string file = readFile(dir.file("a.log"));
    EXPECT_TRUE(std::regex_search(file, std::regex(R"(\d{6}\.\d{6}: .*log_test\.cpp, \d+: refused width 4096)")))
        << file;
    EXPECT_NE(file.find("after the sink went"), std::string::npos);
}

TEST_F(LogTest, CallErrorKeepsTheFirstErrorLineOfItsOwnThread)
{
    halvex::thread::clearCallError();
    EXPECT_EQ(halvex::thread::callError(), "");
    HLV_TRACE(halvex::thread::TRACE_ALL, "%s", "trace lines are no reason");
    HLV_LOG("%s", "Not supported!");
    HLV_LOG("%s", "Halvex exception: later line");
    std::thread other([] { HLV_LOG("%s", "another thread's failure"); });
    other.join();
    EXPECT_EQ(halvex::thread::callError(), "Not supported!");

    halvex::thread::clearCallError();
    EXPECT_EQ(halvex::thread::callError(), "") << "a new call starts without a reason";
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-extra-args"

TEST(FmtToString, FormatsLikePrintfAndTurnsFailuresIntoTexts)
{
    EXPECT_EQ(fmtToString("%s=%d %c %x %04X %08x%%", "v", -12, 'q', 255u, 0xABu, 0x1234u), "v=-12 q ff 00AB 00001234%");
    const std::string longText(10000, 'a');
    EXPECT_EQ(fmtToString("<%s>", longText.c_str()), "<" + longText + ">");

    // A wide character the C locale cannot convert makes vsnprintf fail.
    const wchar_t unconvertible[] = {static_cast<wchar_t>(0xE9), 0};
    const std::string failed = fmtToString("%ls", unconvertible);
    EXPECT_EQ(failed.rfind("fmtToString[63] Format Error: ", 0), 0u) << failed;
    EXPECT_GT(failed.size(), std::string("fmtToString[63] Format Error: ").size()) << "the error's text follows";

    const char* noFormat = nullptr;
    EXPECT_EQ(fmtToString(noFormat, 0).rfind("fmtToString[63] Format Error: ", 0), 0u);
}

#pragma GCC diagnostic pop

} // namespace
