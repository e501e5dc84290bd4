// Settings, refusals, commands, states and events against the stand-in camera.
using System;
using System.Collections.Concurrent;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using Xunit;

namespace Halvex.Tests
{
    [Collection("camera")]
    public class CameraTests : IDisposable
    {
        readonly Client client = new Client();
        readonly Camera camera;

        public CameraTests()
        {
            camera = Sim.Open(client);
            Sim.SmallFrames(camera);
        }

        public void Dispose() => client.Dispose();

        [Fact]
        public void OneLineChangesTheExposureAndNothingElse()
        {
            CaptureSettings before = camera.ReadCapture();
            uint wanted = before.Exposure == 300 ? 200u : 300u;
            CaptureSettings after = camera.Apply(new CaptureSettings { Exposure = wanted });
            Assert.Equal(wanted, after.Exposure);
            Assert.Equal(wanted, camera.ReadCapture().Exposure);
            Assert.Equal((before.Width, before.Height, before.BitMode, before.Length), (after.Width, after.Height, after.BitMode, after.Length));
            Assert.Empty(after.RefusedFields);
            Assert.True(after.ExposureMaximum >= after.ExposureMinimum && after.ExposureMaximum >= wanted);

            // A record read, changed and applied writes the changed value.
            CaptureSettings read = camera.ReadCapture();
            read.Height = 32;
            Assert.Equal(32u, camera.Apply(read).Height);
        }

        [Fact]
        public void TextFieldsAreStrings()
        {
            CameraInformation info = camera.ReadInformation();
            Assert.False(string.IsNullOrEmpty(info.ModelName));
            Assert.False(string.IsNullOrEmpty(info.SerialNumber));
            Assert.DoesNotContain('\0', info.SerialNumber);
            Assert.Contains("SerialNumber = \"" + info.SerialNumber + "\"", info.ToString());
        }

        [Fact]
        public void RefusedValuesCarryTheFieldTheValueTheLimitsAndTheReason()
        {
            var lines = new ConcurrentQueue<LogEventArgs>();
            EventHandler<LogEventArgs> collect = (sender, line) => lines.Enqueue(line);
            Log.LineLogged += collect;
            try {
                CaptureSettings current = camera.ReadCapture();
                uint tooFast = current.RateMaximum + 1000;
                var refused = Assert.Throws<SettingRefusedException>(() => camera.Apply(new CaptureSettings { Rate = tooFast }));
                Assert.Equal("Rate", refused.Field);
                Assert.Equal(tooFast, refused.Value);
                Assert.Equal(current.RateMaximum, refused.Maximum);
                Assert.Equal(current.RateMinimum, refused.Minimum);
                Assert.Equal(current.RateStep, refused.Step);
                Assert.Equal(camera.Address, refused.Camera);
                Assert.False(string.IsNullOrEmpty(refused.Reason), "the library's reason for the refusal");
                Assert.Contains(lines, line => line.Level == LogLevel.Error);

                // A value outside a set names the supported ones.
                var mode = Assert.Throws<SettingRefusedException>(() => camera.Apply(new CaptureSettings { BitMode = (BitMode)0x4000 }));
                Assert.Equal("BitMode", mode.Field);
                Assert.Equal((uint)current.BitModeChoices, mode.Choices);
                Assert.Null(mode.Maximum);

                // The camera kept what it had.
                Assert.Equal(current.Rate, camera.ReadCapture().Rate);
            } finally {
                Log.LineLogged -= collect;
            }
        }

        [Fact]
        public async Task CommandsMoveTheCameraThroughItsStatesByName()
        {
            Assert.Equal(CameraState.Idle, camera.State);
            Assert.True(camera.AllowedCommands.HasFlag(CameraCommand.Arm));
            Assert.Equal(CameraState.Armed, camera.Arm());
            camera.Trigger();
            await camera.WaitForStateAsync(CameraState.Review, Sim.Deadline);
            camera.GoIdle();
            await camera.WaitForStateAsync(CameraState.Idle, Sim.Deadline);

            var refused = Assert.Throws<CommandRefusedException>(() => camera.Send((CameraCommand)0x8));
            Assert.Equal(CameraState.Idle, refused.State);

            var late = await Assert.ThrowsAsync<HalvexException>(() => camera.WaitForStateAsync(CameraState.Review, TimeSpan.FromMilliseconds(200)));
            Assert.Contains("Review", late.Message);
        }

        [Fact]
        public void SubscribedChangesArriveOnTheCallbackThreadWithTheirRecords()
        {
            var exposure = new TaskCompletionSource<(int thread, CaptureSettings settings)>();
            var armed = new TaskCompletionSource<CameraState>();
            uint wanted = camera.ReadCapture().Exposure == 400 ? 500u : 400u;
            client.SettingsChanged += (sender, e) => {
                if (e.Settings is CaptureSettings capture && capture.Exposure == wanted)
                    exposure.TrySetResult((Environment.CurrentManagedThreadId, capture));
            };
            client.StateChanged += (sender, e) => {
                if (e.State == CameraState.Armed)
                    armed.TrySetResult(e.State);
            };
            client.EventReceived += (sender, e) => throw new InvalidOperationException("a failing handler must not stop others");
            camera.Subscribe();
            camera.Apply(new CaptureSettings { Exposure = wanted });
            var (thread, settings) = Sim.Within(exposure.Task, "a capture change event with the new exposure");
            Assert.NotEqual(Environment.CurrentManagedThreadId, thread);
            Assert.Equal(wanted, settings.Exposure);
            camera.Arm();
            Sim.Within(armed.Task, "a state event for arming");
            camera.GoIdle();
            camera.Unsubscribe();
        }

        [Fact]
        public void ACameraOfAnotherMakeIsNamedNotMissed()
        {
            string foreign = Sim.Env("HX_TEST_FOREIGN_CAMERA");
            var refused = Assert.Throws<CameraNotSupportedException>(() => client.OpenCamera(foreign, TimeSpan.FromSeconds(3)));
            Assert.Equal((foreign, "Elsewhere Imaging", "Model 9"), (refused.Address, refused.Maker, refused.Model));
            Assert.Contains("a camera answered at " + foreign, refused.Message);
            Assert.Contains("not supported", refused.Message);
            // Where nothing answers, the error says so instead.
            var missing = Assert.Throws<HalvexException>(() => client.OpenCamera("127.0.0.8", TimeSpan.FromMilliseconds(500)));
            Assert.IsNotType<CameraNotSupportedException>(missing);
            Assert.Contains("no camera answers", missing.Message);
        }

        [Fact]
        public void ChangeEventsNameTheFieldsThatChanged()
        {
            var events = new BlockingCollection<CaptureSettings>();
            client.SettingsChanged += (sender, e) => {
                if (e.Settings is CaptureSettings capture)
                    events.Add(capture);
            };
            CaptureSettings before = camera.ReadCapture();
            camera.Subscribe();
            try {
                // One change at a time: each event names that field and not the one changed before it.
                uint exposure = before.Exposure == 300 ? 200u : 300u;
                camera.Apply(new CaptureSettings { Exposure = exposure });
                CaptureSettings first = NextWith(events, c => c.Exposure == exposure, "a capture change with the new exposure");
                Assert.Contains("Exposure", first.ChangedFields);
                Assert.DoesNotContain("Height", first.ChangedFields);
                Assert.DoesNotContain("Width", first.ChangedFields);

                uint height = before.Height == 32 ? 48u : 32u;
                camera.Apply(new CaptureSettings { Height = height });
                CaptureSettings second = NextWith(events, c => c.Height == height, "a capture change with the new height");
                Assert.Contains("Height", second.ChangedFields);
                Assert.DoesNotContain("Exposure", second.ChangedFields);
                Assert.DoesNotContain("Width", second.ChangedFields);
            } finally {
                camera.Unsubscribe();
            }
        }

        static CaptureSettings NextWith(BlockingCollection<CaptureSettings> events, Func<CaptureSettings, bool> wanted, string what)
        {
            DateTime deadline = DateTime.UtcNow + Sim.Deadline;
            while (events.TryTake(out CaptureSettings next, deadline - DateTime.UtcNow > TimeSpan.Zero ? deadline - DateTime.UtcNow : TimeSpan.Zero)) {
                if (wanted(next))
                    return next;
            }
            throw new TimeoutException(what + " did not arrive within " + Sim.Deadline.TotalSeconds + " s");
        }
    }
}
