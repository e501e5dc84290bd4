// The camera's UDP stream as a protocol analyser reads it: captured on the loopback interface
// of the test's own network namespace and decoded as GVSP, no packet is malformed and every
// leader names its file as the camera numbers frames.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "sim_stream_fixture.h"

extern char** environ;

using namespace hxsim;
using namespace hxsim_test;
using namespace halvex::registers;

namespace {

// Everything a shell command prints on standard output (its diagnostics are dropped).
std::string outputOf(const std::string& command)
{
    std::string text;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return text;
    }
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        text.append(chunk, got);
    }
    ::pclose(pipe);
    return text;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// dumpcap capturing the stream port and a probe port on loopback into a file. It reports on its
// standard error, as packets arrive, how many it holds, so the test waits on what it says.
class Capture {
public:
    Capture(uint16_t port, std::string file) : file_(std::move(file))
    {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            return;
        }
        output_.reset(pipeFds[0]);
        halvex::platform::UniqueFd writeEnd(pipeFds[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        const std::string filter = "udp port " + std::to_string(port) + " or udp port " + std::to_string(probe_.port());
        std::vector<std::string> args{"dumpcap", "-i", "lo", "-f", filter, "-w", file_};
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawnp(&pid_, "dumpcap", &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }

    ~Capture()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove(file_);
    }

    // dumpcap says it is capturing a little before it is: probes go to the probe port until it
    // has seen one.
    bool started(Clock::time_point deadline)
    {
        if (!readUntil(deadline, [this] { return seen_.find("Capturing on") != std::string::npos; })) {
            return false;
        }
        while (Clock::now() < deadline) {
            probe_.send({0x50, 0x52, 0x4F, 0x42, 0x45}, hxsim::Endpoint{kHost, probe_.port()});
            if (readUntil(std::min(deadline, Clock::now() + 200ms), [this] { return packets() > 0; })) {
                probes_ = packets(); // those sent before capturing began are not in the file
                return true;
            }
        }
        return false;
    }

    // Waits until dumpcap holds the probes and `count` packets more.
    bool holds(std::size_t count, Clock::time_point deadline)
    {
        return readUntil(deadline, [&] { return packets() >= count + probes_; });
    }

    // Stops dumpcap and waits for it to finish the file.
    bool stop(Clock::time_point deadline)
    {
        ::kill(pid_, SIGINT);
        const bool ended = readUntil(deadline, [this] { return !output_; });
        if (ended) {
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        return ended;
    }

    const std::string& report() const { return seen_; }

private:
    // The last "Packets: N" update.
    std::size_t packets() const
    {
        const auto at = seen_.rfind("Packets: ");
        return at == std::string::npos ? 0 : std::strtoul(seen_.c_str() + at + 9, nullptr, 10);
    }

    template <typename Done>
    bool readUntil(Clock::time_point deadline, Done done)
    {
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd wait{output_.get(), POLLIN, 0};
            if (!output_ || left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count()) + 1) <= 0) {
                return done();
            }
            char chunk[512];
            const ssize_t got = ::read(output_.get(), chunk, sizeof chunk);
            if (got <= 0) {
                output_.reset();
            } else {
                seen_.append(chunk, static_cast<std::size_t>(got));
            }
        }
        return true;
    }

    std::string file_;
    UdpPort probe_;
    std::size_t probes_ = 0;
    pid_t pid_ = -1;
    halvex::platform::UniqueFd output_;
    std::string seen_;
};

} // namespace

TEST(SimStreamCapture, TsharkFindsNoMalformedGvspPacket)
{
    if (linesOf(outputOf("command -v tshark && command -v dumpcap")).size() != 2) {
        GTEST_SKIP() << "tshark or dumpcap is not installed (Debian package tshark); the GVSP capture check is skipped";
    }
    UdpPort stream;
    const std::string file =
        (std::filesystem::temp_directory_path() / ("hx-gvsp-" + std::to_string(::getpid()) + ".pcapng")).string();
    Capture capture(stream.port(), file);
    if (!capture.started(Clock::now() + 10s)) {
        GTEST_SKIP() << "dumpcap cannot capture on loopback here: " << capture.report();
    }

    // A segmented send crosses loopback as one packet, which no wire has cut into its datagrams:
    // the capture is to show the datagrams one by one, as a network card would put them out.
    CameraConfig oneByOne = streamCamera();
    oneByOne.udpSegmentation = false;
    Cluster cluster({oneByOne});
    ControlClient host;
    prepareStream(host, stream.port());
    const Endpoint camera = controlOf(kCamera);
    ASSERT_EQ(host.write(camera, {{GIGE_REG_SCPS0, 9000 | 0x80000000 | kDoNotFragment}}), 0);
    ASSERT_EQ(host.write(camera, {{GIGE_REG_SCPS0, 1500 | 0x80000000 | kDoNotFragment}, {GIGE_REG_STREAM_CONTROL, 1}}),
              0);
    std::size_t datagrams = 0;
    UdpImageAssembler assembler;
    const auto counting = [&](std::size_t images) {
        const auto deadline = Clock::now() + 5s;
        for (std::size_t done = 0; done < images;) {
            auto datagram = stream.receive(deadline);
            ASSERT_TRUE(datagram) << "the stream stopped after " << done << " images";
            ++datagrams;
            done += assembler.feed(datagram->bytes) ? 1 : 0;
        }
    };
    counting(2);
    ASSERT_EQ(host.write(camera, {{GIGE_REG_STREAM_CONTROL, 0}}), 0);
    record(host, 10);
    ASSERT_EQ(
        host.write(camera, {{GIGE_REG_DOWNLOAD_START, 7}, {GIGE_REG_DOWNLOAD_END, 9}, {GIGE_REG_STREAM_CONTROL, 3}}),
        0);
    // Live images still on their way may come first; the download's three follow.
    const auto downloadDeadline = Clock::now() + 5s;
    std::vector<uint32_t> downloaded;
    while (downloaded.size() < 3) {
        auto datagram = stream.receive(downloadDeadline);
        ASSERT_TRUE(datagram) << "the download stopped after " << downloaded.size() << " frames";
        ++datagrams;
        if (auto image = assembler.feed(datagram->bytes); image && readTiff(image->bytes)) {
            downloaded.push_back(image->frame);
        }
    }
    ASSERT_TRUE(capture.holds(datagrams, Clock::now() + 10s))
        << "dumpcap did not see every datagram: " << capture.report();
    ASSERT_TRUE(capture.stop(Clock::now() + 10s)) << "dumpcap did not stop";

    const std::string decode = "tshark -r " + file + " -d udp.port==" + std::to_string(stream.port()) + ",gvsp";
    // Only the stream's datagrams are judged: the probes go to an ephemeral port, which tshark may
    // take for another protocol's (a probe to port 34964 reads as a malformed real-time frame).
    EXPECT_EQ(outputOf(decode + " -Y '_ws.malformed && udp.port == " + std::to_string(stream.port()) + "'"), "")
        << "tshark found malformed packets";
    EXPECT_EQ(linesOf(outputOf(decode + " -Y gvsp")).size(), datagrams) << "not every datagram was read as GVSP";
    // File names are frame numbers plus one, in hexadecimal: frames 7, 8 and 9 are "8", "9" and "A".
    const auto names =
        linesOf(outputOf(decode + " -Y 'gvsp.format == 1 && gvsp.payloadtype == 3' -T fields -e gvsp.filename"));
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(names.end() - 3, names.end()), (std::vector<std::string>{"8", "9", "A"}));
}
