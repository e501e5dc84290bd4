// Discovery through the public interface with stand-in cameras: found and lost events to two
// clients, cameras added by address on loopback and kept by unicast polls, pause and resume,
// refused names and cameras, and broadcast discovery across a veth pair into a second network
// namespace. Polls run every 50 ms (scaled).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "arrivals.h"
#include "hlv_thread/period_scale.h"
#include "hx/hx.h"
#include "log_capture.h"
#include "sim/net/camera.h"

namespace {

using std::chrono::milliseconds;
constexpr milliseconds LIMIT(10000);

// Every callback either client received.
struct Delivery {
    uint32_t event;
    HX_CLIENT_HANDLE client;
    HX_CAMERA_HANDLE camera;
    bool withData;
    HX_CAMERA_INFORMATION info;
};

class Deliveries {
public:
    void add(const Delivery& delivery) { log_.add(delivery); }
    std::vector<Delivery> of(uint32_t event, HX_CAMERA_HANDLE camera) const
    {
        std::vector<Delivery> found;
        for (const Delivery& d : log_.all())
            if (d.event == event && d.camera == camera)
                found.push_back(d);
        return found;
    }
    // Waits until `count` deliveries of the event for the camera have arrived (both clients count).
    bool waitFor(uint32_t event, HX_CAMERA_HANDLE camera, std::size_t count, milliseconds limit = LIMIT) const
    {
        return log_.waitUntil(
            [&](const std::vector<Delivery>& log) {
                std::size_t seen = 0;
                for (const Delivery& d : log)
                    seen += d.event == event && d.camera == camera ? 1 : 0;
                return seen >= count;
            },
            limit);
    }

private:
    hx_test::Arrivals<Delivery> log_;
};

Deliveries& deliveries()
{
    static Deliveries* const log = new Deliveries;
    return *log;
}

void onEvent(uint32_t event, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, void* data, void*)
{
    Delivery delivery{event, client, camera, data != nullptr, {}};
    if (event == HX_DISCOVERY && data != nullptr)
        delivery.info = *static_cast<const HX_CAMERA_INFORMATION*>(data);
    deliveries().add(delivery);
}

HX_CAMERA_HANDLE handleOf(const char* dotted)
{
    return inet_addr(dotted);
}

hxsim::CameraConfig cameraAt(const char* dotted, const char* name)
{
    hxsim::CameraConfig config;
    config.address = ntohl(inet_addr(dotted));
    config.userName = name;
    return config;
}

bool shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The library lives once per process: every test shares the two clients and uses its own cameras.
class PublicDiscovery : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        halvex::thread::setPeriodScale(0.01);
        ASSERT_EQ(HX_register(&first, onEvent, nullptr), HX_STATUS_OK);
        ASSERT_EQ(HX_register(&second, onEvent, nullptr), HX_STATUS_OK);
    }
    static void TearDownTestSuite() { EXPECT_EQ(HX_shutdown(), HX_STATUS_OK); }
    void TearDown() override { HX_discover_pause(0); }

    // Both clients got the event for the camera exactly `count` times.
    static void expectDelivered(uint32_t event, HX_CAMERA_HANDLE camera, std::size_t count)
    {
        const std::vector<Delivery> seen = deliveries().of(event, camera);
        ASSERT_EQ(seen.size(), 2 * count);
        std::size_t toFirst = 0;
        for (const Delivery& d : seen)
            toFirst += d.client == first ? 1 : 0;
        EXPECT_EQ(toFirst, count);
    }

    static inline HX_CLIENT_HANDLE first = 0;
    static inline HX_CLIENT_HANDLE second = 0;
};

TEST_F(PublicDiscovery, CameraAddedByAddressIsReportedToBothClientsAndLostOnceWhenSilentThenFoundAgain)
{
    const HX_CAMERA_HANDLE handle = handleOf("127.0.0.2");
    auto camera = std::make_unique<hxsim::Camera>(cameraAt("127.0.0.2", "e2e-cam"));
    HX_CAMERA_HANDLE found = 0;
    ASSERT_EQ(HX_get_handle_by_name(first, &found, "127.0.0.2"), HX_STATUS_OK);
    EXPECT_EQ(found, handle);
    ASSERT_TRUE(deliveries().waitFor(HX_DISCOVERY, handle, 2));
    expectDelivered(HX_DISCOVERY, handle, 1);
    const Delivery report = deliveries().of(HX_DISCOVERY, handle).front();
    ASSERT_TRUE(report.withData);
    EXPECT_STREQ(report.info.user_name, "e2e-cam");
    EXPECT_STREQ(report.info.manufacturer_name, camera->config().manufacturer().c_str());
    EXPECT_STREQ(report.info.device_version, camera->config().deviceVersion().c_str());
    EXPECT_STREQ(report.info.model_name, camera->config().model.c_str());
    EXPECT_STREQ(report.info.adapter_name, "lo");

    HX_CAMERA_HANDLE byName = 0;
    EXPECT_EQ(HX_get_handle_by_name(second, &byName, "e2e-cam"), HX_STATUS_OK);
    EXPECT_EQ(byName, handle);
    EXPECT_EQ(HX_get_handle_by_name(second, &byName, "E2E-CAM"), HX_STATUS_ERROR);

    // Kept by its unicast polls: the broadcast does not reach loopback. Absence can only be
    // watched for a while: twenty poll periods, more than three times what a silent camera survives.
    EXPECT_FALSE(deliveries().waitFor(HX_END, handle, 1, milliseconds(1000))) << "lost while it answers";

    camera.reset(); // falls silent
    ASSERT_TRUE(deliveries().waitFor(HX_END, handle, 2)) << "no lost event for a silent camera";
    for (const Delivery& d : deliveries().of(HX_END, handle))
        EXPECT_FALSE(d.withData);

    camera = std::make_unique<hxsim::Camera>(cameraAt("127.0.0.2", "e2e-cam"));
    ASSERT_TRUE(deliveries().waitFor(HX_DISCOVERY, handle, 4)) << "not found again when it answers";
    expectDelivered(HX_END, handle, 1);
    expectDelivered(HX_DISCOVERY, handle, 2);
}

TEST_F(PublicDiscovery, PausedDiscoveryKeepsASilentCameraListedUntilResumed)
{
    const HX_CAMERA_HANDLE handle = handleOf("127.0.0.3");
    auto camera = std::make_unique<hxsim::Camera>(cameraAt("127.0.0.3", "paused-cam"));
    HX_CAMERA_HANDLE found = 0;
    ASSERT_EQ(HX_get_handle_by_name(first, &found, "127.0.0.3"), HX_STATUS_OK);
    ASSERT_TRUE(deliveries().waitFor(HX_DISCOVERY, handle, 2));

    ASSERT_EQ(HX_discover_pause(1), HX_STATUS_OK);
    camera.reset();
    // Absence can only be watched for a while: twenty poll periods.
    EXPECT_FALSE(deliveries().waitFor(HX_END, handle, 1, milliseconds(1000))) << "lost while paused";
    EXPECT_EQ(HX_get_handle_by_name(second, &found, "paused-cam"), HX_STATUS_OK)
        << "dropped from the database while paused";

    ASSERT_EQ(HX_discover_pause(0), HX_STATUS_OK);
    EXPECT_TRUE(deliveries().waitFor(HX_END, handle, 2)) << "not lost after resuming";
}

TEST_F(PublicDiscovery, OnlyAKnownNameOrAnAnsweringAcceptableCameraGivesAHandle)
{
    HX_CAMERA_HANDLE found = 0;
    EXPECT_EQ(HX_get_handle_by_name(first, &found, "no such camera"), HX_STATUS_ERROR);
    EXPECT_EQ(HX_get_handle_by_name(first, &found, "127.0.0.9"), HX_STATUS_ERROR) << "nothing answers there";
    for (const char* many : {"255.255.255.255", "224.0.0.1", "0.0.0.0"})
        EXPECT_EQ(HX_get_handle_by_name(first, &found, many), HX_STATUS_ERROR) << many;

    hxsim::CameraConfig old = cameraAt("127.0.0.4", "old-cam");
    old.faults.oldFirmware = true;
    const hxsim::Camera refused(old);
    EXPECT_EQ(HX_get_handle_by_name(first, &found, "127.0.0.4"), HX_STATUS_ERROR);
    EXPECT_TRUE(deliveries().of(HX_DISCOVERY, handleOf("127.0.0.4")).empty());

    // A camera of another make answers: the failed lookup says who answered, not that nobody did.
    hxsim::CameraConfig foreign = cameraAt("127.0.0.5", "foreign-cam");
    foreign.faults.wrongManufacturer = true;
    foreign.model = "Model 9";
    const hxsim::Camera elsewhere(foreign);
    hx_test::LogCapture log;
    EXPECT_EQ(HX_get_handle_by_name(first, &found, "127.0.0.5"), HX_STATUS_ERROR);
    const auto said = [&log](const char* address, const std::string& maker, const std::string& model) {
        return log.count(std::string("a camera answered at ") + address + ": maker \"" + maker + "\", model \"" +
                         model + "\"") == 1;
    };
    EXPECT_TRUE(said("127.0.0.5", foreign.manufacturer(), "Model 9")) << "the lookup did not name the camera";
    EXPECT_EQ(log.count("not supported"), 1u);
    EXPECT_EQ(log.count("no camera answered at 127.0.0.5"), 0u);
    EXPECT_EQ(HX_get_handle_by_name(first, &found, "127.0.0.4"), HX_STATUS_ERROR);
    EXPECT_TRUE(said("127.0.0.4", old.manufacturer(), old.model)) << "the old camera's lookup did not name it";
    EXPECT_TRUE(deliveries().of(HX_DISCOVERY, handleOf("127.0.0.5")).empty());
}

// Runs work in a second network namespace: a thread that left ours.
class PeerNamespace {
public:
    PeerNamespace()
    {
        std::promise<pid_t> entered;
        std::future<pid_t> tid = entered.get_future();
        thread_ = std::thread([this, &entered] {
            entered.set_value(unshare(CLONE_NEWNET) == 0 ? static_cast<pid_t>(syscall(SYS_gettid)) : -1);
            serve();
        });
        tid_ = tid.get();
    }
    ~PeerNamespace()
    {
        run({});
        thread_.join();
    }
    bool entered() const { return tid_ > 0; }
    std::string path() const { return "/proc/" + std::to_string(tid_) + "/ns/net"; }
    // Runs `work` on the namespace's thread and waits for it; an empty function ends the thread.
    void run(std::function<void()> work)
    {
        std::packaged_task<void()> task([work] {
            if (work)
                work();
        });
        std::future<void> done = task.get_future();
        ready_.update([&] {
            task_ = std::move(task);
            stop_ = !work;
        });
        done.get();
    }

private:
    // Between tasks the thread waits for the test's next step, which comes within the test's own
    // time limit; a test gone for longer has hung elsewhere, and the thread ends.
    void serve()
    {
        constexpr std::chrono::minutes idleLimit(10);
        for (;;) {
            if (!ready_.waitUntil([this] { return task_.valid(); }, idleLimit))
                return;
            std::packaged_task<void()> task;
            bool last = false;
            ready_.update([&] {
                task = std::move(task_);
                last = stop_;
            });
            task();
            if (last)
                return;
        }
    }

    // Guards the task and the stop flag, and signals a task's arrival.
    hx_test::Signal ready_;
    std::packaged_task<void()> task_;
    bool stop_ = false;
    pid_t tid_ = -1;
    std::thread thread_;
};

TEST_F(PublicDiscovery, BroadcastFindsACameraInAnotherNamespaceAcrossAVethPair)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to join two network namespaces with a veth pair";
    PeerNamespace peer;
    ASSERT_TRUE(peer.entered());
    ASSERT_TRUE(shell("ip link add hxb0 type veth peer name hxb1 netns " + peer.path()));
    ASSERT_TRUE(shell("nsenter --net=" + peer.path() +
                      " sh -c 'ip link set lo up && "
                      "ip addr add 10.251.0.2/24 broadcast 10.251.0.255 dev hxb1 && ip link set hxb1 up'"));
    ASSERT_TRUE(shell("ip addr add 10.251.0.1/24 broadcast 10.251.0.255 dev hxb0 && ip link set hxb0 up"));

    std::unique_ptr<hxsim::Camera> camera;
    hxsim::CameraConfig config = cameraAt("10.251.0.2", "veth-cam");
    config.netmask = 0xFFFFFF00;
    config.hearBroadcast = true;
    peer.run([&] { camera = std::make_unique<hxsim::Camera>(config); });

    const HX_CAMERA_HANDLE handle = handleOf("10.251.0.2");
    ASSERT_TRUE(deliveries().waitFor(HX_DISCOVERY, handle, 2)) << "the broadcast did not find the camera";
    EXPECT_STREQ(deliveries().of(HX_DISCOVERY, handle).front().info.adapter_name, "hxb0");
    HX_CAMERA_HANDLE byName = 0;
    EXPECT_EQ(HX_get_handle_by_name(first, &byName, "veth-cam"), HX_STATUS_OK);
    EXPECT_EQ(byName, handle);

    peer.run([&] { camera.reset(); });
    EXPECT_TRUE(deliveries().waitFor(HX_END, handle, 2));
    shell("ip link del hxb0");
}

} // namespace
