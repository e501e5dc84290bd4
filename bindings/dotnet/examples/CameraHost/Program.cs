// An example host: finds a camera by address, changes its region and exposure, hears the change
// as an event, has a refusal explained, records and downloads frames, and prints what it saw.
// Prints "dotnet_host: done" when everything went as expected.
//   dotnet CameraHost.dll [ADDRESS]
using System;
using System.Threading;
using System.Threading.Tasks;
using Halvex;

static class CameraHost
{
    static async Task<int> Main(string[] args)
    {
        string address = args.Length > 0 ? args[0] : "127.0.0.2";
        Log.LineLogged += (sender, line) => { if (line.Level == LogLevel.Error) Console.WriteLine("library: " + line.Text); };
        try {
            using var client = new Client();
            using var changed = new ManualResetEventSlim();
            client.SettingsChanged += (sender, e) => {   // on the library's callback thread
                if (e.Settings is CaptureSettings capture && capture.Exposure == 300)
                    changed.Set();
            };
            Camera camera = client.OpenCamera(address);
            Console.WriteLine(camera.ReadInformation());
            camera.Subscribe();

            camera.Apply(new CaptureSettings { BitMode = BitMode.Mode8A, Width = 256, Height = 64, Exposure = 200 });
            Console.WriteLine(camera.Apply(new CaptureSettings { Exposure = 300 }));
            if (!changed.Wait(TimeSpan.FromSeconds(10)))
                throw new HalvexException("no capture change event with the new exposure");

            try {
                camera.Apply(new CaptureSettings { Rate = camera.ReadCapture().RateMaximum + 1000 });
                throw new HalvexException("a rate above the maximum was accepted");
            } catch (SettingRefusedException refused) {
                Console.WriteLine($"refused as expected: {refused.Message} (maximum {refused.Maximum})");
            }

            await camera.RecordAsync(length: 16);
            int count = 0;
            await foreach (Frame frame in camera.DownloadAsync(2, 9)) {
                uint drawn = BitConverter.ToUInt32(frame.Pixels.Span.Slice(0, 4).ToArray(), 0);
                Console.WriteLine($"{frame}; frame number in its pixels: {drawn}");
                if (drawn != 2 + count++)
                    throw new HalvexException($"frame {drawn} came where {1 + count} was due");
            }
            if (count != 8)
                throw new HalvexException($"{count} frames downloaded, 8 asked for");
            camera.GoIdle();
        } catch (HalvexException error) {
            Console.WriteLine("dotnet_host: FAILED: " + error.Message);
            return 1;
        } finally {
            Client.Shutdown();
        }
        Console.WriteLine("dotnet_host: done");
        return 0;
    }
}
