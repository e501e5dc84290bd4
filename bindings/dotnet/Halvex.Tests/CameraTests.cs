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
    }
}
