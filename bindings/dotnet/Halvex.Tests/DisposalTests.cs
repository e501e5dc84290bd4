// Disposing a client or camera while a stream runs: the iteration ends with ObjectDisposedException,
// the library keeps working for other clients, and nothing crashes.
using System;
using System.Threading;
using System.Threading.Tasks;
using Xunit;

namespace Halvex.Tests
{
    [Collection("camera")]
    public class DisposalTests
    {
        [Fact]
        public void DisposingTheClientEndsARunningLiveStream()
        {
            var first = new TaskCompletionSource<bool>();
            var client = new Client();
            Camera camera = Sim.Open(client);
            Sim.SmallFrames(camera);
            Task consumer = Task.Run(async () => {
                await foreach (Frame frame in camera.LiveAsync(options: new StreamOptions { ZeroCopy = true }))
                    first.TrySetResult(true);
            });
            Sim.Within(first.Task, "a first live frame");
            client.Dispose();
            var ended = Sim.Within(consumer.ContinueWith(t => t.Exception?.InnerException), "the end of the live iteration");
            Assert.IsType<ObjectDisposedException>(ended);
            Assert.Throws<ObjectDisposedException>(() => camera.State);

            // Another client still gets live images from the same camera.
            using var other = new Client();
            Camera again = Sim.Open(other);
            Assert.Equal(-1, FirstWrong(again));
        }

        [Fact]
        public void DisposingACameraStopsItsStreamsAndItsSubscription()
        {
            using var client = new Client();
            Camera camera = Sim.Open(client);
            Sim.SmallFrames(camera);
            camera.Subscribe();
            using (var frames = camera.Live(options: new StreamOptions { Buffers = 2 }).GetEnumerator()) {
                Assert.True(frames.MoveNext());
                camera.Dispose();
                Assert.Throws<ObjectDisposedException>(() => frames.MoveNext());
            }
            // The client opens the camera afresh.
            Camera reopened = Sim.Open(client);
            Assert.NotSame(camera, reopened);
            Assert.Equal(-1, FirstWrong(reopened));
        }

        static int FirstWrong(Camera camera)
        {
            foreach (Frame frame in camera.Live(frames: 1))
                return Sim.FirstWrongPixel(frame.Span, frame.Width, frame.Height, frame.RowStride, Sim.FrameNumber(frame.Span));
            return -2;
        }
    }
}
