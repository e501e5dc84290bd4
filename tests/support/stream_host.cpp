// A test host for the stream flows: one registered client whose callback queues the buffers the
// library gives back, buffers that outlive the library, and the stand-in cameras' registers.
#include "stream_host.h"

#include <gtest/gtest.h>

#include "record_fields.h"

namespace stream_test {

using hx_test::setField;

namespace {

uint32_t littleEndian(const uint8_t* bytes, std::size_t count)
{
    uint32_t value = 0;
    for (std::size_t i = count; i > 0; --i)
        value = value << 8 | bytes[i - 1];
    return value;
}

constexpr uint16_t STRIP_OFFSETS = 273;

} // namespace

void StreamHost::onEvent(uint32_t event, HX_CLIENT_HANDLE, HX_CAMERA_HANDLE, void* data, void* cookie)
{
    auto* host = static_cast<StreamHost*>(cookie);
    if (event == HX_DOWNLOAD_DATA || event == HX_LIVE_DATA || event == HX_PLAYBACK_DATA)
        host->changed_.update([&] { host->returned_.push_back({event, static_cast<HX_READ_STREAM*>(data)}); });
    else if (event == HX_STREAM_NEGOTIATION && data != nullptr)
        host->changed_.update([&] { host->negotiations_.push_back(*static_cast<const int32_t*>(data)); });
}

std::optional<Returned> StreamHost::next(std::chrono::milliseconds timeout)
{
    if (!changed_.waitUntil([this] { return !returned_.empty(); }, timeout))
        return std::nullopt;
    std::optional<Returned> first;
    changed_.update([&] {
        if (!returned_.empty()) {
            first = returned_.front();
            returned_.pop_front();
        }
    });
    return first;
}

std::vector<int32_t> StreamHost::negotiations() const
{
    return changed_.read([this] { return negotiations_; });
}

HX_READ_STREAM* StreamHost::buffer(std::size_t size)
{
    HX_READ_STREAM* record = nullptr;
    changed_.update([&] {
        Buffer& buffer = buffers_.emplace_back();
        buffer.bytes = std::make_unique<uint8_t[]>(size);
        HX_read_stream_init(&buffer.record, sizeof(buffer.record));
        buffer.record.buffer = buffer.bytes.get();
        buffer.record.buffer_size = size;
        record = &buffer.record;
    });
    return record;
}

uint32_t frameNumberInPixels(const HX_READ_STREAM& record)
{
    return record.received_length < 4 ? 0xFFFFFFFF : littleEndian(static_cast<const uint8_t*>(record.buffer), 4);
}

// Reads only what it needs and checks every offset against the received bytes.
std::optional<uint32_t> frameNumberInTiff(const HX_READ_STREAM& record)
{
    const auto* bytes = static_cast<const uint8_t*>(record.buffer);
    const std::size_t size = record.received_length;
    if (size < 8 || bytes[0] != 'I' || bytes[1] != 'I')
        return std::nullopt;
    const uint32_t directory = littleEndian(bytes + 4, 4);
    if (directory > size - 2)
        return std::nullopt;
    const uint32_t entries = littleEndian(bytes + directory, 2);
    for (uint32_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + std::size_t{i} * 12;
        if (entry + 12 > size)
            return std::nullopt;
        if (littleEndian(bytes + entry, 2) != STRIP_OFFSETS)
            continue;
        const uint32_t strip = littleEndian(bytes + entry + 8, 4);
        if (strip > size - 4)
            return std::nullopt;
        return littleEndian(bytes + strip, 4);
    }
    return std::nullopt;
}

hxsim::CameraConfig streamCamera(uint32_t hostOrderAddress, const char* model)
{
    hxsim::CameraConfig config = hx_test::standInCamera(hostOrderAddress, "lupa-mono", model);
    config.timeScale = 20;
    return config;
}

uint32_t cameraState(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    HX_COMMAND command;
    HX_command_init(&command, sizeof(command));
    EXPECT_EQ(HX_command_syn(client, camera, &command, &command), HX_STATUS_OK);
    return command.code;
}

void sendCommand(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t code)
{
    HX_COMMAND command;
    HX_command_init(&command, sizeof(command));
    command.flags = HX_FLAG_SET;
    setField(command.code, command.code_flags, code);
    ASSERT_EQ(HX_command_syn(client, camera, &command, &command), HX_STATUS_OK);
    ASSERT_EQ(command.code_flags & HX_FLAG_ERR, 0u) << "command 0x" << std::hex << code;
}

void configure(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t frames, uint32_t width, uint32_t height)
{
    HX_CAPTURE_SETTINGS capture;
    HX_capture_settings_init(&capture, sizeof(capture));
    capture.sensor_group_flags = HX_FLAG_SET;
    setField(capture.bit_mode, capture.bit_mode_flags, HX_BIT_MODE_8A);
    setField(capture.width, capture.width_flags, width);
    setField(capture.height, capture.height_flags, height);
    capture.record_group_flags = HX_FLAG_SET;
    // Start-trigger recording: exactly `frames` frames from the trigger.
    setField(capture.record_mode, capture.record_mode_flags, HX_RECORD_MODE_LTR);
    setField(capture.length, capture.length_flags, frames);
    ASSERT_EQ(HX_setup_capture_syn(client, camera, &capture, &capture), HX_STATUS_OK);
    ASSERT_EQ(capture.flags & HX_FLAG_ERR, 0u);
}

void record(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, uint32_t frames, uint32_t width, uint32_t height)
{
    configure(client, camera, frames, width, height);
    // The camera logs reaching review; counted from here, an earlier recording's line is passed over.
    const hx_test::CapturedLines::Match review = hx_test::cameraLine(camera, "camera state now review");
    const std::size_t reviewsBefore = hx_test::standInLines().count(review);
    sendCommand(client, camera, HX_CMD_ARM);
    sendCommand(client, camera, HX_CMD_TRIGGER);
    ASSERT_TRUE(hx_test::standInLines().waitFor(review, hx_test::DEADLINE, reviewsBefore + 1))
        << "the camera did not finish its recording";
    ASSERT_EQ(cameraState(client, camera), HX_CAMERA_STATE_REVIEW);
}

} // namespace stream_test
