using Halvex;

string address = args.Length > 0 ? args[0] : "127.0.0.2";
using var client = new Client();
client.SettingsChanged += (sender, e) => Console.WriteLine($"changed: {e.Settings}"); // callback thread
Camera camera = client.OpenCamera(address);
camera.Subscribe();
Console.WriteLine(camera.ReadInformation());

try {
    camera.Apply(new CaptureSettings { Exposure = 500, Width = 512, Height = 256 });
    camera.Apply(new CaptureSettings { Exposure = 1_000_000_000 });
} catch (SettingRefusedException refused) {
    Console.WriteLine($"{refused.Field}: allowed {refused.Minimum}..{refused.Maximum}");
}
await camera.RecordAsync(length: 16);
await foreach (Frame frame in camera.DownloadAsync(0, 15))
    Console.WriteLine($"{frame}: {frame.Width} x {frame.Height}, first pixels {frame.Pixels.Span[8]}");
camera.GoIdle();
Client.Shutdown();
