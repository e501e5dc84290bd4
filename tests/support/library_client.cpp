// The library and its stand-in cameras for an end-to-end test program.
#include "library_client.h"

#include <arpa/inet.h>

#include <cstdlib>

#include <hlv_thread/period_scale.h>

namespace hx_test {

LibraryClient& LibraryClient::add(Cameras cameras, std::vector<ClientCallback> clients, double periodScale)
{
    auto* environment = new LibraryClient(std::move(cameras), std::move(clients), periodScale);
    ::testing::AddGlobalTestEnvironment(environment); // GoogleTest owns it from here
    return *environment;
}

LibraryClient::LibraryClient(Cameras cameras, std::vector<ClientCallback> clients, double periodScale)
    : cameras_(std::move(cameras)), callbacks_(std::move(clients)), periodScale_(periodScale)
{
}

void LibraryClient::SetUp()
{
    // Pollers, request age-out and negotiation trials run faster than in use.
    halvex::thread::setPeriodScale(periodScale_);
    if (std::getenv("HX_TEST_TRACE") != nullptr)
        HX_trace(1);
    cluster_ = std::make_unique<hxsim::Cluster>(cameras_(), standInLogger());
    for (const ClientCallback& callback : callbacks_) {
        HX_CLIENT_HANDLE handle = 0;
        ASSERT_EQ(HX_register(&handle, callback.callback, callback.cookie), HX_STATUS_OK);
        handles_.push_back(handle);
    }
}

void LibraryClient::TearDown()
{
    for (const HX_CLIENT_HANDLE handle : handles_)
        HX_unregister(handle);
    EXPECT_EQ(HX_shutdown(), HX_STATUS_OK);
    cluster_.reset();
}

HX_CAMERA_HANDLE LibraryClient::handleOf(uint32_t hostOrderAddress) const
{
    return hx_test::handleOf(client(), hostOrderAddress);
}

HX_STATUS LibraryClient::setupCapture(HX_CAMERA_HANDLE camera, HX_CAPTURE_SETTINGS& record) const
{
    return HX_setup_capture_syn(client(), camera, &record, &record);
}

HX_CAPTURE_SETTINGS LibraryClient::captureSettings(HX_CAMERA_HANDLE camera) const
{
    HX_CAPTURE_SETTINGS record;
    HX_capture_settings_init(&record, sizeof(record));
    EXPECT_EQ(setupCapture(camera, record), HX_STATUS_OK);
    EXPECT_EQ(record.flags & HX_FLAG_ERR, 0u);
    return record;
}

namespace {

std::string dotted(uint32_t hostOrderAddress)
{
    in_addr address{htonl(hostOrderAddress)};
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &address, text, sizeof(text));
    return text;
}

} // namespace

CapturedLines& standInLines()
{
    // Never destroyed: a camera's thread may still log while the program ends.
    static CapturedLines* lines = new CapturedLines;
    return *lines;
}

hxsim::Logger standInLogger()
{
    return [](const std::string& line) { standInLines().add(line); };
}

CapturedLines::Match cameraLine(HX_CAMERA_HANDLE camera, const std::string& text)
{
    // The handle holds the address in network byte order.
    const std::string prefix = dotted(ntohl(static_cast<uint32_t>(camera))) + ": ";
    return [prefix, text](const std::string& line) {
        return line.compare(0, prefix.size(), prefix) == 0 && line.find(text, prefix.size()) != std::string::npos;
    };
}

HX_CAMERA_HANDLE handleOf(HX_CLIENT_HANDLE client, uint32_t hostOrderAddress)
{
    const std::string text = dotted(hostOrderAddress);
    HX_CAMERA_HANDLE handle = 0;
    EXPECT_EQ(HX_get_handle_by_name(client, &handle, text.c_str()), HX_STATUS_OK) << text;
    return handle;
}

hxsim::CameraConfig standInCamera(uint32_t hostOrderAddress, const std::string& sensor, const std::string& model)
{
    hxsim::CameraConfig config;
    config.address = hostOrderAddress;
    config.sensor = *hxsim::SensorModel::fromName(sensor);
    config.model = model;
    config.memoryBytes = uint64_t{1} << 30;
    config.userName = "cam-" + std::to_string(hostOrderAddress & 0xFF);
    config.serial = "HXS" + std::to_string(hostOrderAddress & 0xFF);
    config.seed = hostOrderAddress;
    return config;
}

uint32_t registerOf(hxsim::Camera& camera, uint32_t address)
{
    uint32_t value = 0xFFFFFFFF;
    camera.withCore([&](hxsim::CameraCore& core, hxsim::SimTime) {
        value = core.device().registers().read(address).value_or(0xFFFFFFFF);
    });
    return value;
}

} // namespace hx_test
