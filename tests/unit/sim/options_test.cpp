// Command line and scenario files of the executable, and the host-network guard.
#include <gtest/gtest.h>

#include "sim/net/host_network.h"
#include "sim/program/options.h"
#include "sim/program/scenario.h"

using namespace hxsim;
using namespace std::chrono_literals;

namespace {

ParsedOptions parse(std::vector<std::string> args)
{
    return parseOptions(args);
}

} // namespace

TEST(SimOptions, ClusterFromTheCommandLine)
{
    auto parsed = parse({"--cameras", "3", "--address=127.0.0.10", "--sensor", "lux19hs-mono", "--memory", "2G",
                         "--name", "bay", "--model", "rig qM", "--time-scale", "100", "--fault", "all.drop=0.25",
                         "--fault", "control.delay-max-ms=6000", "--old-firmware"});
    ASSERT_EQ(parsed.error, "");
    const auto& cameras = parsed.options.cameras;
    ASSERT_EQ(cameras.size(), 3u);
    EXPECT_EQ(cameras[2].address, 0x7F00000Cu);
    EXPECT_EQ(cameras[2].userName, "bay-3");
    EXPECT_EQ(cameras[0].sensor.typeCode(), 0x5839484Du);
    EXPECT_EQ(cameras[0].memoryBytes, uint64_t{2} << 30);
    EXPECT_EQ(cameras[0].family(), halvex::sim::CameraFamily::Morvane);
    EXPECT_EQ(cameras[0].timeScale, 100.0);
    EXPECT_EQ(cameras[1].faults.channel(FaultChannel::Events).drop, 0.25);
    EXPECT_EQ(cameras[1].faults.channel(FaultChannel::Control).delayMax, 6000ms);
    EXPECT_EQ(cameras[1].deviceVersion(), "2.3.5");
    EXPECT_NE(cameras[0].seed, cameras[1].seed);
    EXPECT_NE(cameras[0].mac, cameras[1].mac);
    EXPECT_EQ(parse({"--cameras", "1", "--name", "solo"}).options.cameras.at(0).userName, "solo");

    // Line rate and the live-frame cap: 10 Gbit/s and capped unless asked otherwise.
    EXPECT_EQ(cameras[0].linkBitsPerSecond, 10'000'000'000u);
    EXPECT_TRUE(cameras[0].liveFrameCap);
    const auto fast = parse({"--link", "25g", "--no-frame-cap"}).options.cameras.at(0);
    EXPECT_EQ(fast.linkBitsPerSecond, 25'000'000'000u);
    EXPECT_FALSE(fast.liveFrameCap);
    EXPECT_EQ(parse({"--link=unlimited"}).options.cameras.at(0).linkBitsPerSecond, 0u);
    EXPECT_EQ(parse({"--link", "1g"}).options.cameras.at(0).linkBitsPerSecond, 1'000'000'000u);
    EXPECT_NE(parse({"--link", "40g"}).error.find("--link"), std::string::npos);
}

TEST(SimOptions, MistakesAreNamed)
{
    EXPECT_NE(parse({"--cameras", "0"}).error, "");
    EXPECT_NE(parse({"--cameras"}).error.find("needs a value"), std::string::npos);
    EXPECT_NE(parse({"--sensor", "cmos"}).error.find("unknown sensor"), std::string::npos);
    EXPECT_NE(parse({"--memory", "300M"}).error.find("256"), std::string::npos);
    EXPECT_NE(parse({"--fault", "control.drop=2"}).error.find("probability"), std::string::npos);
    EXPECT_NE(parse({"--fault", "radio.drop=0.1"}).error.find("channel"), std::string::npos);
    EXPECT_NE(parse({"--frobnicate", "1"}).error.find("unknown option"), std::string::npos);
    EXPECT_NE(parse({"--cameras", "300", "--address", "127.0.0.2"}).error, "");
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_EQ(parseMemorySize("512M"), uint64_t{512} << 20);
    EXPECT_EQ(parseMemorySize("3"), uint64_t{3} << 20);
    EXPECT_EQ(parseMemorySize("G"), std::nullopt);
}

TEST(SimScenario, DefaultsThenPerCameraSettings)
{
    CameraConfig base;
    base.userName = "lab";
    std::vector<CameraConfig> cameras;
    const std::string text = R"({
        "defaults": { "sensor": "lupa", "time_scale": 10, "faults": { "events": { "drop": 0.5 } } },
        "cameras": [
            { "name": "left" },
            { "address": "127.0.0.20", "faults": { "mute": true, "vanish_at": 2.5, "control": { "error_status": 1 } } }
        ]
    })";
    ASSERT_EQ(parseScenario(text, base, cameras), "");
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0].userName, "left");
    EXPECT_EQ(cameras[1].userName, "lab-2");
    EXPECT_EQ(cameras[1].address, 0x7F000014u);
    EXPECT_EQ(cameras[0].sensor.typeCode(), 0x4C313343u);
    EXPECT_EQ(cameras[1].timeScale, 10.0);
    EXPECT_EQ(cameras[0].faults.channel(FaultChannel::Events).drop, 0.5);
    EXPECT_FALSE(cameras[0].faults.mute);
    EXPECT_TRUE(cameras[1].faults.mute);
    EXPECT_EQ(cameras[1].faults.vanishAt, SimTime(2500ms));
    EXPECT_EQ(cameras[1].faults.channel(FaultChannel::Control).errorStatus, 1.0);

    ASSERT_EQ(parseScenario(R"({"cameras": 4})", base, cameras), "");
    EXPECT_EQ(cameras.size(), 4u);
}

TEST(SimScenario, TyposAndBadValuesAreRefused)
{
    std::vector<CameraConfig> cameras;
    EXPECT_NE(parseScenario("{", {}, cameras).find("JSON"), std::string::npos);
    EXPECT_NE(parseScenario(R"({"camera": 2})", {}, cameras).find("unknown scenario key"), std::string::npos);
    EXPECT_NE(parseScenario(R"({"cameras": [{"sensr": "lupa"}]})", {}, cameras).find("unknown option"),
              std::string::npos);
    EXPECT_NE(parseScenario(R"({"cameras": [{"faults": {"mute": 1}}]})", {}, cameras), "");
    EXPECT_NE(parseScenario(R"({"cameras": 0})", {}, cameras), "");
    EXPECT_NE(loadScenario("/nonexistent/scenario.json", {}, cameras).find("cannot read"), std::string::npos);
}

TEST(SimHostNetwork, OnlyLoopbackOnTheHostsNetwork)
{
    CameraConfig loopback;
    EXPECT_EQ(checkNetworkSafety({loopback}, false), "");
    CameraConfig lan;
    lan.address = 0x0AFB0002; // 10.251.0.2
    EXPECT_NE(checkNetworkSafety({loopback, lan}, false).find("in-netns"), std::string::npos);
    EXPECT_EQ(checkNetworkSafety({lan}, true), "");
    CameraConfig listening;
    listening.hearBroadcast = true;
    EXPECT_NE(checkNetworkSafety({listening}, false), "");
}
