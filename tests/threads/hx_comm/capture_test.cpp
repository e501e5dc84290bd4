// The channel's datagrams as a packet analyser sees them: captured on loopback inside the test's
// own network namespace, none may be malformed for the control-protocol dissector.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "control/hx_comm.h"
#include "scripted_camera.h"

using namespace halvex::control;

extern char** environ;

using namespace hx_comm_test;
using namespace std::chrono_literals;

namespace {

bool haveTshark()
{
    return std::system("command -v tshark >/dev/null 2>&1") == 0;
}

// Runs a shell command and returns its standard output.
std::string output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
            text += buffer;
        pclose(pipe);
    }
    return text;
}

// Where readiness probes go: a port nobody listens on and no dissector claims.
constexpr uint16_t kProbePort = 3999;

// tshark capturing the control port (and the probe port) on loopback into a file, printing a
// summary line per datagram once it is in the file.
class LoopbackCapture {
public:
    explicit LoopbackCapture(const std::string& file)
    {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        const std::string filter = "udp port 3956 or udp port " + std::to_string(kProbePort);
        const char* argv[] = {"tshark",       "-l", "-P",           "-i", "lo",         "-f",
                              filter.c_str(), "-a", "duration:120", "-w", file.c_str(), nullptr};
        if (posix_spawnp(&pid_, "tshark", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        output_ = pipeFds[0];
    }
    ~LoopbackCapture() { finish(); }

    // "Capturing on" comes before the capture really runs: probe until a probe shows up.
    bool waitUntilCapturing(ScriptedCamera& prober, std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            prober.sendTo({'p', 'r', 'o', 'b', 'e'}, kProbePort, ipv4("127.0.0.9"));
            if (readUntil(" → " + std::to_string(kProbePort), 1, 100ms))
                return true;
        }
        return false;
    }
    // Waits until `count` summary lines name `protocol`.
    bool waitForLines(const std::string& protocol, std::size_t count, std::chrono::milliseconds limit)
    {
        return readUntil(" " + protocol + " ", count, limit);
    }
    // Interrupts tshark, which has written every datagram it printed, and waits for it to end.
    void finish()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGINT);
        waitpid(pid_, nullptr, 0);
        close(output_);
        pid_ = -1;
    }

private:
    std::size_t occurrences(const std::string& needle) const
    {
        std::size_t count = 0;
        for (auto at = said_.find(needle); at != std::string::npos; at = said_.find(needle, at + 1))
            ++count;
        return count;
    }

    bool readUntil(const std::string& needle, std::size_t count, std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (occurrences(needle) < count) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd watched{output_, POLLIN, 0};
            if (left.count() <= 0 || poll(&watched, 1, int(left.count())) <= 0)
                return false;
            char buffer[512];
            const ssize_t got = read(output_, buffer, sizeof(buffer));
            if (got <= 0)
                return false;
            said_.append(buffer, std::size_t(got));
        }
        return true;
    }

    pid_t pid_ = -1;
    int output_ = -1;
    std::string said_;
};

} // namespace

TEST(ChannelCaptureTest, EveryDatagramDissectsCleanly)
{
    if (!haveTshark())
        GTEST_SKIP() << "tshark is not installed; the capture check needs it (apt-get install tshark)";
    char directory[] = "/tmp/hx_capture_XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string file = std::string(directory) + "/control.pcapng";

    ScriptedCamera camera{"127.0.0.5"};
    const uint32_t cam = camera.address();
    {
        LoopbackCapture capture(file);
        ASSERT_TRUE(capture.waitUntilCapturing(camera, 30s)) << "tshark did not start capturing";
        uint32_t value = 0;
        EXPECT_EQ(HxComm::readReg(cam, 0x0A00, value), 0u);
        EXPECT_EQ(HxComm::writeReg(cam, 0x1234, 5), 0u);
        EXPECT_EQ(HxComm::writeReg(cam, 0xE844, 1), 0u);
        halvex::wire::RegisterPairs pairs = {{0x0A00, 0}, {0x1234, 0}, {0x0D04, 0}};
        EXPECT_EQ(HxComm::readMultiReg(cam, pairs), 0u);
        EXPECT_EQ(HxComm::writeMultiReg(cam, {{0x1000, 1}, {0x1004, 2}}), 0u);
        EXPECT_EQ(HxComm::writeMem(cam, 0x10000, std::vector<uint8_t>(600, 0x5A)), 0u);
        std::vector<uint8_t> data;
        EXPECT_EQ(HxComm::readMem(cam, 0x10000, data, 0), 0u);
        HxComm::recycle(cam); // the halt's two fire-and-forget writes
        // Nine commands and six answers.
        EXPECT_TRUE(capture.waitForLines("GVCP", 15, 30s)) << "tshark did not see every datagram";
    }
    const std::string read = "tshark -r " + file + " ";
    const std::string control = output(read + "-Y gvcp -T fields -e frame.number 2>/dev/null");
    EXPECT_EQ(std::count(control.begin(), control.end(), '\n'), 15);
    EXPECT_EQ(output(read + "-Y _ws.malformed 2>/dev/null"), "");
    if (!HasFailure()) {
        std::remove(file.c_str());
        rmdir(directory);
    }
}
