// The stand-in camera's image stream as a host built from the codecs sees it: packet-size trials,
// live frames, playback, a shown frame and downloads as TIFF over UDP, pause and resume, and the
// second family's TCP stream.
#include <gtest/gtest.h>

#include "sim_stream_fixture.h"

using namespace hxsim;
using namespace hxsim_test;
using namespace HX_REGISTERS;

namespace {

constexpr uint32_t kFireTestPacket = 0x80000000;

// The first datagram on `port` that is a test packet: the packet size it stands for.
std::optional<uint32_t> nextTestPacket(UdpPort& port, uint32_t camera) {
    const auto deadline = Clock::now() + 3s;
    while (auto datagram = port.receive(deadline)) {
        EXPECT_EQ(datagram->from.address, camera) << "stream datagrams come from the camera's own address";
        if (auto size = HX_WIRE::decodeTestPacket(datagram->bytes)) {
            return size;
        }
    }
    return std::nullopt;
}

}  // namespace

TEST(SimStream, TestPacketsAnswerOnlyTheSizesThePathCarries) {
    // One camera behind a jumbo-frame path, one behind an ordinary one, one behind a narrower one.
    std::vector<CameraConfig> configs = Cluster::numbered(streamCamera(), 3);
    configs[1].maxStreamPacket = 1500;
    configs[2].maxStreamPacket = 1400;
    Cluster cluster(configs);
    ControlClient host;
    for (uint32_t i = 0; i < 3; ++i) {
        const Endpoint camera = controlOf(kCamera + i);
        UdpPort stream;
        ASSERT_EQ(host.write(camera, {{GIGE_REG_SCDA0, kHost}, {GIGE_REG_SCP0, stream.port()}}), 0);
        for (uint32_t trial : {9000u, 1500u, 1400u}) {
            ASSERT_EQ(host.write(camera, {{GIGE_REG_SCPS0, trial | kFireTestPacket | kDoNotFragment}}), 0);
        }
        std::vector<uint32_t> answered;
        for (uint32_t expected : {9000u, 1500u, 1400u}) {
            if (expected <= configs[i].maxStreamPacket) {
                auto size = nextTestPacket(stream, kCamera + i);
                ASSERT_TRUE(size) << "camera " << i << " did not answer the " << expected << "-byte trial";
                answered.push_back(*size);
            }
        }
        const std::vector<std::vector<uint32_t>> expected{{9000, 1500, 1400}, {1500, 1400}, {1400}};
        EXPECT_EQ(answered, expected[i]) << "camera " << i;
    }
}

TEST(SimStream, LiveFramesOverUdpCarryTheirNumbersInTheirPixels) {
    Cluster cluster({streamCamera()});
    ControlClient host;
    UdpPort stream;
    prepareStream(host, stream.port());
    ASSERT_EQ(host.write(controlOf(kCamera), {{GIGE_REG_STREAM_CONTROL, 1}}), 0);
    UdpImageAssembler assembler;
    const auto images = receiveImages(stream, assembler, 4);
    ASSERT_EQ(images.size(), 4u) << "live frames missing; faults seen: " << assembler.faults.size();
    EXPECT_TRUE(assembler.faults.empty()) << assembler.faults.front();
    for (std::size_t i = 0; i < images.size(); ++i) {
        EXPECT_TRUE(SyntheticImage::matches(images[i].frame, 0, kGeometry, images[i].bytes)) << "frame " << images[i].frame;
        if (i > 0) {
            EXPECT_GT(images[i].frame, images[i - 1].frame) << "live frame numbers only grow";
            EXPECT_NE(images[i].blockId, images[i - 1].blockId);
        }
    }
}

TEST(SimStream, RecordedFramesPlayShowAndDownloadAsTiffOverUdp) {
    Cluster cluster({streamCamera()});
    ControlClient host;
    UdpPort playback;
    prepareStream(host, playback.port());
    record(host, 20);
    const Endpoint camera = controlOf(kCamera);

    ASSERT_EQ(host.write(camera, {{GIGE_REG_DOWNLOAD_E918, 5}, {GIGE_REG_DOWNLOAD_START, 2}, {GIGE_REG_DOWNLOAD_END, 9},
                                  {GIGE_REG_DOWNLOAD_E92C, 1}, {GIGE_REG_DOWNLOAD_E930, 25}, {GIGE_REG_STREAM_CONTROL, 2}}),
              0);
    UdpImageAssembler played;
    const auto frames = receiveImages(playback, played, 3);
    ASSERT_EQ(frames.size(), 3u) << "playback frames missing";
    for (const auto& image : frames) {
        EXPECT_TRUE(image.frame >= 2 && image.frame <= 9) << "frame " << image.frame << " outside the range played";
        EXPECT_TRUE(SyntheticImage::matches(image.frame, 1, kGeometry, image.bytes)) << "frame " << image.frame;
    }

    // Each later stream goes to a port of its own, so frames still on their way do not mix in.
    UdpPort shown;
    ASSERT_EQ(host.write(camera, {{GIGE_REG_STREAM_CONTROL, 0}, {GIGE_REG_SCP0, shown.port()},
                                  {GIGE_REG_DOWNLOAD_E918, 7}, {GIGE_REG_STREAM_CONTROL, 4}}),
              0);
    UdpImageAssembler single;
    const auto show = receiveImages(shown, single, 1);
    ASSERT_EQ(show.size(), 1u) << "the shown frame did not arrive";
    EXPECT_EQ(show[0].frame, 7u);

    UdpPort download;
    ASSERT_EQ(host.write(camera, {{GIGE_REG_SCP0, download.port()}, {GIGE_REG_DOWNLOAD_START, 3},
                                  {GIGE_REG_DOWNLOAD_END, 8}, {GIGE_REG_STREAM_CONTROL, 3}}),
              0);
    UdpImageAssembler files;
    const auto downloaded = receiveImages(download, files, 6);
    ASSERT_EQ(downloaded.size(), 6u) << "download incomplete";
    for (uint32_t i = 0; i < downloaded.size(); ++i) {
        EXPECT_EQ(downloaded[i].frame, 3 + i) << "download frames come in order";
        expectTiffOfFrame(downloaded[i].bytes, downloaded[i].frame, 1);
    }
}

TEST(SimStream, PauseHoldsADownloadUntilResumed) {
    Cluster cluster({streamCamera()});
    ControlClient host;
    UdpPort stream;
    prepareStream(host, stream.port());
    record(host, 20);
    const Endpoint camera = controlOf(kCamera);
    ASSERT_EQ(host.write(camera, {{GIGE_REG_DOWNLOAD_START, 0}, {GIGE_REG_DOWNLOAD_END, 4},
                                  {GIGE_REG_STREAM_CONTROL, 3}, {GIGE_REG_STREAM_CONTROL, 16}}),
              0);
    // A test packet asked for after the pause overtakes nothing: no image was on its way.
    ASSERT_EQ(host.write(camera, {{GIGE_REG_SCPS0, 1500 | kFireTestPacket | kDoNotFragment}}), 0);
    const auto first = stream.receive(Clock::now() + 3s);
    ASSERT_TRUE(first) << "the test packet did not arrive";
    EXPECT_TRUE(HX_WIRE::decodeTestPacket(first->bytes)) << "the paused download sent something";

    ASSERT_EQ(host.write(camera, {{GIGE_REG_STREAM_CONTROL, 32}}), 0);
    UdpImageAssembler assembler;
    const auto images = receiveImages(stream, assembler, 5);
    ASSERT_EQ(images.size(), 5u) << "the download did not resume";
    for (uint32_t i = 0; i < images.size(); ++i) {
        EXPECT_EQ(images[i].frame, i);
    }
}

TEST(SimStream, SecondFamilyStreamsLiveAndDownloadsOverTcp) {
    CameraConfig config = streamCamera();
    config.model = "hxsim qM";
    Cluster cluster({config});
    ControlClient host;
    TcpStreamClient stream(kCamera);
    prepareStream(host, stream.port());

    ASSERT_EQ(host.write(controlOf(kCamera), {{GIGE_REG_STREAM_CONTROL, 1}}), 0);
    std::optional<uint32_t> previous;
    for (int i = 0; i < 3; ++i) {
        auto image = stream.next();
        ASSERT_TRUE(image) << "live frame " << i << " did not arrive: " << stream.fault;
        EXPECT_TRUE(SyntheticImage::matches(image->frame, 0, kGeometry, image->bytes)) << "frame " << image->frame;
        EXPECT_TRUE(!previous || image->frame > *previous);
        previous = image->frame;
    }
    ASSERT_EQ(host.write(controlOf(kCamera), {{GIGE_REG_STREAM_CONTROL, 0}}), 0);
    record(host, 12);
    ASSERT_EQ(host.write(controlOf(kCamera), {{GIGE_REG_DOWNLOAD_START, 0}, {GIGE_REG_DOWNLOAD_END, 4},
                                              {GIGE_REG_STREAM_CONTROL, 3}}),
              0);
    // Live frames sent before the stop come first on the connection; the download follows them.
    std::vector<uint32_t> downloaded;
    while (downloaded.size() < 5) {
        auto image = stream.next();
        ASSERT_TRUE(image) << "download stopped after " << downloaded.size() << " frames: " << stream.fault;
        if (readTiff(image->bytes)) {
            expectTiffOfFrame(image->bytes, image->frame, 1);
            downloaded.push_back(image->frame);
        }
    }
    EXPECT_EQ(downloaded, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
}
