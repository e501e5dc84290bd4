// What the tests share: the stand-in camera's address, the refusal to run on the host network,
// deadlines for waiting on conditions, and the order of the test collections (the one that shuts
// the library down runs last).
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using Xunit;
using Xunit.Abstractions;

[assembly: CollectionBehavior(DisableTestParallelization = true)]
[assembly: TestCollectionOrderer("Halvex.Tests.ShutdownLast", "Halvex.Tests")]

namespace Halvex.Tests
{
    public static class Sim
    {
        public static readonly TimeSpan Deadline = TimeSpan.FromSeconds(20);

        // The camera hxsim plays (tests/hosts/dotnet/host_test.sh starts it).
        public static string Address => Environment.GetEnvironmentVariable("HX_TEST_CAMERA") ?? "127.0.0.2";

        // Tests that open sockets run only inside a private network namespace (scripts/in-netns).
        public static void RequirePrivateNetwork()
        {
            string inode = Environment.GetEnvironmentVariable("HX_NETNS_INODE");
            string own = new FileInfo("/proc/self/ns/net").LinkTarget ?? "";
            if (string.IsNullOrEmpty(inode) || own != "net:[" + inode + "]")
                throw new InvalidOperationException("refusing the host network: run the camera tests under scripts/in-netns");
        }

        public static Camera Open(Client client)
        {
            RequirePrivateNetwork();
            return client.OpenCamera(Address, Deadline);
        }

        public static string Env(string name) =>
            Environment.GetEnvironmentVariable(name) ?? throw new InvalidOperationException(name + " is not set (ctest sets it)");

        // Waits for a task with a deadline, failing with what did not happen.
        public static T Within<T>(Task<T> task, string what)
        {
            if (!task.Wait(Deadline))
                throw new TimeoutException(what + " did not happen within " + Deadline.TotalSeconds + " s");
            return task.Result;
        }

        // Puts the camera in idle with a small 8-bit region, so that frames stay small.
        public static CaptureSettings SmallFrames(Camera camera, uint width = 256, uint height = 64)
        {
            if (camera.State != CameraState.Idle)
                camera.GoIdle();
            return camera.Apply(new CaptureSettings { BitMode = BitMode.Mode8A, Width = width, Height = height, XOffset = 0, YOffset = 0 });
        }

        // The frame number the camera drew into a frame's first four bytes.
        public static uint FrameNumber(ReadOnlySpan<byte> pixels) => BitConverter.ToUInt32(pixels.Slice(0, 4).ToArray(), 0);
        public static uint Serial(ReadOnlySpan<byte> pixels) => BitConverter.ToUInt32(pixels.Slice(4, 4).ToArray(), 0);

        // The first byte that differs from the stand-in camera's diagonal pattern (column + row +
        // 3 x frame) mod 256, after the frame number and serial; -1 when all match.
        public static int FirstWrongPixel(ReadOnlySpan<byte> pixels, int width, int height, int stride, uint frame)
        {
            for (int y = 0; y < height; y++) {
                for (int x = 0; x < width; x++) {
                    int at = y * stride + x;
                    if (at < 8)
                        continue;
                    if (pixels[at] != (byte)(x + y + 3 * frame))
                        return at;
                }
            }
            return -1;
        }
    }

    // Collections in name order, but "shutdown" (which stops the library for the process) last.
    public sealed class ShutdownLast : ITestCollectionOrderer
    {
        public IEnumerable<ITestCollection> OrderTestCollections(IEnumerable<ITestCollection> collections) =>
            collections.OrderBy(c => c.DisplayName.Contains("shutdown") ? 1 : 0).ThenBy(c => c.DisplayName, StringComparer.Ordinal);
    }
}
