// Live and download frames against the stand-in camera, every pixel checked against the pattern it
// draws: the frame number in the first four bytes, the recording's serial in the next four, then
// (column + row + 3 x frame number) mod 256.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using Xunit;

namespace Halvex.Tests
{
    [Collection("camera")]
    public class FrameTests : IDisposable
    {
        const int Width = 256, Height = 64;
        readonly Client client = new Client();
        readonly Camera camera;

        public FrameTests()
        {
            camera = Sim.Open(client);
            Sim.SmallFrames(camera, Width, Height);
        }

        public void Dispose() => client.Dispose();

        [Fact]
        public async Task LiveFramesAreOwnedCopiesOfWhatTheCameraDrew()
        {
            var frames = new List<Frame>();
            await foreach (Frame frame in camera.LiveAsync(frames: 3).WithCancellation(new CancellationTokenSource(Sim.Deadline).Token))
                frames.Add(frame);
            Assert.Equal(3, frames.Count);
            uint previous = 0;
            foreach (Frame frame in frames) {
                // Owned copies stay valid after the stream went on.
                ReadOnlySpan<byte> pixels = frame.Pixels.Span;
                Assert.False(frame.IsView);
                Assert.True(frame.IsComplete, frame.ToString());
                Assert.Equal(Width * Height, pixels.Length);
                uint number = Sim.FrameNumber(pixels);
                Assert.Equal(0u, Sim.Serial(pixels));
                Assert.Equal(-1, Sim.FirstWrongPixel(pixels, Width, Height, frame.RowStride, number));
                Assert.True(frame == frames[0] || number > previous, "live frame numbers grow");
                previous = number;
            }
            Assert.Equal(CameraState.Idle, camera.State);
        }

        [Fact]
        public void ZeroCopyFramesAreViewsValidUntilTheNextFrame()
        {
            Frame first = null, kept = null;
            foreach (Frame frame in camera.Live(frames: 2, new StreamOptions { ZeroCopy = true })) {
                Assert.True(frame.IsView);
                Assert.Equal(-1, Sim.FirstWrongPixel(frame.Span, Width, Height, frame.RowStride, Sim.FrameNumber(frame.Span)));
                if (first == null) {
                    first = frame;
                    kept = frame.Copy();
                }
            }
            Assert.Throws<ObjectDisposedException>(() => first.Span.Length);
            Assert.False(kept.IsView);
            Assert.Equal(-1, Sim.FirstWrongPixel(kept.Span, Width, Height, kept.RowStride, Sim.FrameNumber(kept.Span)));
        }

        [Fact]
        public async Task DownloadedFramesComeInOrderAsTiffWithTheirPixels()
        {
            await camera.RecordAsync(length: 16, timeout: Sim.Deadline);
            var numbers = new List<uint>();
            Frame last = null;
            await foreach (Frame frame in camera.DownloadAsync(2, 9)) {
                Assert.True(frame.IsTiff, frame.ToString());
                Assert.True(frame.IsComplete, frame.ToString());
                ReadOnlySpan<byte> pixels = frame.Pixels.Span;
                Assert.Equal(Width * Height, pixels.Length);
                uint number = Sim.FrameNumber(pixels);
                Assert.True(Sim.Serial(pixels) >= 1, "a recording's serial counts from 1");
                Assert.Equal(-1, Sim.FirstWrongPixel(pixels, Width, Height, frame.RowStride, number));
                numbers.Add(number);
                last = frame;
            }
            Assert.Equal(Enumerable.Range(2, 8).Select(n => (uint)n), numbers);
            Assert.True(last.IsLast);

            // A second download of the same recording takes over the buffers the first left lent.
            Assert.Equal(new uint[] { 0, 1 }, camera.Download(0, 1).Select(f => Sim.FrameNumber(f.Pixels.Span)));
            camera.GoIdle();
        }

        [Fact]
        public async Task ADownloadOutsideTheRecordingIsRefused()
        {
            await camera.RecordAsync(length: 16, timeout: Sim.Deadline);
            var refused = Assert.Throws<SettingRefusedException>(() => camera.Download(100000, 100001).ToList());
            Assert.Contains(refused.Field, new[] { "Start", "Stop" });
            Assert.NotNull(refused.Maximum);
            camera.GoIdle();
        }
    }
}
