// The Discovery thread against scripted cameras on loopback: cameras added by address, unicast
// polls, age-out, pause, hostile datagrams. Polling periods are scaled down by the test hook.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "discovery.h"
#include "hlv_thread/period_scale.h"
#include "hlv_thread/sync_message.h"
#include "scripted_camera.h"

namespace {

using discovery_test::ScriptedCamera;
using std::chrono::milliseconds;

constexpr milliseconds LIMIT(10000);

uint32_t ip(const char* text) { return inet_addr(text); }

// Records what the thread reports, for tests waiting on other threads.
class RecordingEvents : public HLV_DISCOVERY::DiscoveryEvents {
 public:
  std::string adapterName(uint32_t) override { return "test-adapter"; }
  void cameraFound(uint32_t address, const std::string& name, const HX_CAMERA_INFORMATION&) override {
    record(found_, address, name);
  }
  void cameraLost(uint32_t address, const std::string& name) override { record(lost_, address, name); }

  bool waitFound(std::size_t count) { return waitFor(found_, count); }
  bool waitLost(std::size_t count) { return waitFor(lost_, count); }
  std::size_t foundCount() { return countOf(found_); }
  std::size_t lostCount() { return countOf(lost_); }
  std::pair<uint32_t, std::string> lastLost() {
    const std::lock_guard guard(lock_);
    return lost_.back();
  }

 private:
  using Log = std::vector<std::pair<uint32_t, std::string>>;
  void record(Log& log, uint32_t address, const std::string& name) {
    {
      const std::lock_guard guard(lock_);
      log.emplace_back(address, name);
    }
    changed_.notify_all();
  }
  bool waitFor(Log& log, std::size_t count) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, LIMIT, [&] { return log.size() >= count; });
  }
  std::size_t countOf(Log& log) {
    const std::lock_guard guard(lock_);
    return log.size();
  }

  std::mutex lock_;
  std::condition_variable changed_;
  Log found_;
  Log lost_;
};

// Polls every 50 ms (the first after 20 ms).
class DiscoveryThread : public ::testing::Test {
 protected:
  void SetUp() override {
    HLV_THREAD::setPeriodScale(0.01);
    discovery.start();
  }
  void TearDown() override {
    HLV_THREAD::closeThread(discovery);
    HLV_THREAD::setPeriodScale(1.0);
  }
  // One poll round on demand, as the poller's tick would post it.
  void pollOnce() { discovery.post(new HLV_DISCOVERY::DiscoverySend(&discovery)); }
  std::optional<int32_t> timer(const char* address) { return discovery.database()->timer(ip(address)); }

  RecordingEvents events;
  Discovery discovery{events};
};

TEST_F(DiscoveryThread, CameraAddedByAddressIsFoundOnceAndKeptAliveByUnicastPolls) {
  ScriptedCamera camera("127.0.0.2", "loop-cam");
  uint32_t handle = 0;
  ASSERT_TRUE(discovery.addCameraByAddress("127.0.0.2", handle));
  EXPECT_EQ(handle, ip("127.0.0.2"));
  ASSERT_TRUE(events.waitFound(1));

  // Far more polls than the six a silent camera survives.
  ASSERT_TRUE(camera.waitForRequests(12, LIMIT)) << "the camera is not polled by unicast";
  EXPECT_EQ(events.foundCount(), 1u);
  EXPECT_EQ(events.lostCount(), 0u);
  EXPECT_TRUE(timer("127.0.0.2").has_value());
  // Polls after the first come at the long period: nine of them take at least 9 x 50 ms (with slack).
  const auto arrivals = camera.arrivals();
  EXPECT_GE(arrivals[11] - arrivals[2], milliseconds(9 * 40));

  uint32_t looked = 0;
  EXPECT_TRUE(discovery.lookup("loop-cam", looked));
  EXPECT_EQ(looked, handle);
  EXPECT_TRUE(discovery.lookup("127.0.0.2", looked));
  EXPECT_FALSE(discovery.lookup("LOOP-CAM", looked));
  EXPECT_TRUE(discovery.addCameraByAddress("127.0.0.2", looked)) << "a known camera needs no new request";
}

TEST_F(DiscoveryThread, SilentCameraIsLostAtTheSixthMissedPollExactlyOnceAndFoundAgainWhenItAnswers) {
  discovery.pausePolling(true);  // this test posts each poll itself
  ScriptedCamera camera("127.0.0.2", "quiet");
  uint32_t handle = 0;
  ASSERT_TRUE(discovery.addCameraByAddress("127.0.0.2", handle));
  ASSERT_TRUE(events.waitFound(1));
  camera.setMuted(true);

  std::size_t asked = camera.requests();
  for (int missed = 1; missed <= 5; ++missed) {
    pollOnce();
    ASSERT_TRUE(camera.waitForRequests(++asked, LIMIT));  // the poll decrements before it asks
    EXPECT_EQ(timer("127.0.0.2"), 6 - missed);
    EXPECT_EQ(events.lostCount(), 0u) << "lost after only " << missed << " missed polls";
  }
  pollOnce();
  ASSERT_TRUE(events.waitLost(1)) << "not lost at the sixth missed poll";
  EXPECT_EQ(events.lastLost(), std::make_pair(handle, std::string("quiet")));
  EXPECT_FALSE(timer("127.0.0.2").has_value());

  // Still asked, so that it can come back; no second lost event meanwhile.
  ASSERT_TRUE(camera.waitForRequests(++asked, LIMIT));
  pollOnce();
  ASSERT_TRUE(camera.waitForRequests(++asked, LIMIT));
  EXPECT_EQ(events.lostCount(), 1u);

  camera.setMuted(false);
  pollOnce();
  ASSERT_TRUE(events.waitFound(2)) << "no new found event when the camera answers again";
  EXPECT_EQ(timer("127.0.0.2"), 6);
}

TEST_F(DiscoveryThread, PausedPollingAsksNothingAndRunsNoTimerDown) {
  discovery.pausePolling(true);
  EXPECT_TRUE(discovery.paused());
  ScriptedCamera camera("127.0.0.2", "paused");
  uint32_t handle = 0;
  ASSERT_TRUE(discovery.addCameraByAddress("127.0.0.2", handle));  // the request of the lookup itself
  // Absence can only be watched for a while: ten poll periods.
  EXPECT_FALSE(camera.waitForRequests(2, milliseconds(500))) << "polled while paused";
  EXPECT_EQ(timer("127.0.0.2"), 6);

  discovery.pausePolling(false);
  EXPECT_FALSE(discovery.paused());
  EXPECT_TRUE(camera.waitForRequests(3, LIMIT)) << "polling did not resume";
}

TEST_F(DiscoveryThread, HostileDatagramsAreDroppedAndTheGenuineReplyStillCounts) {
  ScriptedCamera camera("127.0.0.2", "genuine");
  camera.script([&camera](uint16_t id) {
    const std::vector<uint8_t> good = camera.wellFormedReply(id);
    std::vector<uint8_t> shorter(good.begin(), good.end() - 1);
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    std::vector<uint8_t> failed = good;
    failed[1] = 0x01;  // error status
    std::vector<uint8_t> otherAnswer = good;
    otherAnswer[3] = 0x81;  // a register read acknowledge
    HX_WIRE::DiscoveryAck impostor = camera.identity;
    impostor.currentIp = ip("127.0.0.9");  // claims another address than it came from
    return ScriptedCamera::Datagrams{{}, {0x42}, shorter, longer, failed, otherAnswer,
                                     HX_WIRE::encodeDiscoveryAck(impostor), good};
  });
  uint32_t handle = 0;
  ASSERT_TRUE(discovery.addCameraByAddress("127.0.0.2", handle));
  ASSERT_TRUE(events.waitFound(1));
  EXPECT_EQ(discovery.database()->addresses(), std::vector<uint32_t>{ip("127.0.0.2")});
  ASSERT_TRUE(camera.waitForRequests(4, LIMIT));  // a few more rounds of the same
  EXPECT_EQ(events.foundCount(), 1u);
  EXPECT_EQ(events.lostCount(), 0u);
}

TEST_F(DiscoveryThread, OnlyAnAnsweringAcceptableCameraCanBeAddedByAddress) {
  uint32_t handle = 0;
  EXPECT_FALSE(discovery.addCameraByAddress("camera-7", handle));
  EXPECT_FALSE(discovery.addCameraByAddress("", handle));
  EXPECT_FALSE(discovery.addCameraByAddress("127.0.0.7", handle)) << "nothing answers there";
  ScriptedCamera listener("127.0.0.5", "listener");
  for (const char* many : {"255.255.255.255", "224.0.0.1", "0.0.0.0"}) {
    EXPECT_FALSE(discovery.addCameraByAddress(many, handle)) << many;
  }
  EXPECT_EQ(listener.requests(), 0u) << "a name lookup sent a request that reaches many";

  const ScriptedCamera old("127.0.0.3", "old", "2.3.5");
  EXPECT_FALSE(discovery.addCameraByAddress("127.0.0.3", handle));
  EXPECT_EQ(discovery.database()->ignoreCount(ip("127.0.0.3")), -1);
  EXPECT_EQ(events.foundCount(), 0u);
}

TEST_F(DiscoveryThread, MessagesOfOtherThreadsAreRefusedAndTheThreadGoesOn) {
  HLV_THREAD::SyncMessage foreign;
  foreign.req = HX_MESSAGE_IDS::CAM_SETTINGS_MSG;
  foreign.send(&discovery);
  EXPECT_EQ(foreign.status, HLV_THREAD::MESSAGE_FAILED);

  ScriptedCamera camera("127.0.0.2", "after");
  uint32_t handle = 0;
  EXPECT_TRUE(discovery.addCameraByAddress("127.0.0.2", handle));
}

// Interfaces that come and go between polls must not upset the rounds.
TEST_F(DiscoveryThread, AdapterChurnDuringPollsKeepsThemGoing) {
  ScriptedCamera camera("127.0.0.2", "steady");
  uint32_t handle = 0;
  ASSERT_TRUE(discovery.addCameraByAddress("127.0.0.2", handle));
  for (int round = 0; round < 5; ++round) {
    if (std::system("ip link add hxc0 type veth peer name hxc1 >/dev/null 2>&1 && "
                    "ip addr add 10.77.0.1/24 dev hxc0 && ip link set hxc0 up && ip link set hxc1 up") != 0)
      GTEST_SKIP() << "cannot create links here (needs iproute2 and CAP_NET_ADMIN in the namespace)";
    const std::size_t asked = camera.requests();
    ASSERT_TRUE(camera.waitForRequests(asked + 1, LIMIT));
    ASSERT_EQ(std::system("ip link del hxc0"), 0);
    ASSERT_TRUE(camera.waitForRequests(asked + 2, LIMIT));
  }
  EXPECT_EQ(events.lostCount(), 0u);
}

}  // namespace
