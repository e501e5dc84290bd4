// A managed host: registers, finds a camera by address, reads and changes its capture settings,
// hears the change as an event, has a refusal explained, records (arm, trigger) and downloads
// frames, checking the frame numbers the camera wrote into them. Prints "dotnet_host: done".
//   mono CameraHost.exe [ADDRESS]
using System;
using System.Collections.Concurrent;
using System.Threading;
using Halvex;
using Halvex.Native;

static class CameraHost
{
    const uint Width = 256, Height = 64, Length = 16, First = 2, Last = 9;
    const int Buffers = 12;
    static readonly TimeSpan Wait = TimeSpan.FromSeconds(10);
    static int failures;

    static void Expect(bool condition, string what)
    {
        if (condition)
            return;
        Console.WriteLine("dotnet_host: FAILED: " + what);
        failures++;
    }

    static int Main(string[] args)
    {
        string address = args.Length > 0 ? args[0] : "127.0.0.2";
        var buffers = new StreamBuffer[Buffers];
        try {
            using (var client = new Client()) {
                Run(client, address, buffers);
            }
        } catch (HalvexException error) {
            Expect(false, error.Message);
        }
        Client.Shutdown();
        // The library has given every buffer back once it has shut down.
        foreach (StreamBuffer buffer in buffers)
            if (buffer != null)
                buffer.Dispose();
        if (failures != 0)
            return 1;
        Console.WriteLine("dotnet_host: done");
        return 0;
    }

    static void Run(Client client, string address, StreamBuffer[] buffers)
    {
        // One event comes per register the change touched; the one that matters carries the exposure.
        var changed = new ManualResetEventSlim();
        uint wantedExposure = 0;
        client.CaptureChanged += (sender, e) => {
            if (((HX_CAPTURE_SETTINGS)e.Record).exposure == Volatile.Read(ref wantedExposure))
                changed.Set();
        };
        Camera camera = client.FindCamera(address, Wait);
        HX_CAMERA_INFORMATION info = camera.Information();
        Console.WriteLine("camera {0}: {1}", camera.Address, Text(info));
        camera.Subscribe();

        HX_CAPTURE_SETTINGS capture = camera.ReadCapture();
        Console.WriteLine("capture: {0} x {1} at {2} fps, exposure {3} us", capture.width, capture.height, capture.rate, capture.exposure);
        capture.sensor_group_flags = Hx.HX_FLAG_SET;
        Set(ref capture.bit_mode, ref capture.bit_mode_flags, Hx.HX_BIT_MODE_8A);
        Set(ref capture.width, ref capture.width_flags, Width);
        Set(ref capture.height, ref capture.height_flags, Height);
        capture.record_group_flags = Hx.HX_FLAG_SET;
        Set(ref capture.length, ref capture.length_flags, Length);
        capture.exposure_group_flags = Hx.HX_FLAG_SET;
        uint exposure = capture.exposure == 200 ? 300u : 200u;
        Volatile.Write(ref wantedExposure, exposure);
        Set(ref capture.exposure, ref capture.exposure_flags, exposure);
        capture = camera.SetupCapture(capture);
        Expect(capture.width == Width && capture.height == Height && capture.exposure == exposure, "capture settings round trip");
        Expect(changed.Wait(Wait), "a capture change event with the new exposure");

        HX_CAPTURE_SETTINGS tooFast = camera.ReadCapture();
        tooFast.record_group_flags = Hx.HX_FLAG_SET;
        Set(ref tooFast.rate, ref tooFast.rate_flags, tooFast.rate_max + 1000);
        try {
            camera.SetupCapture(tooFast);
            Expect(false, "a rate above the maximum is refused");
        } catch (SettingRefusedException refused) {
            Console.WriteLine("refused as expected: " + refused.Message);
            Expect(refused.Field == "rate" && refused.Maximum == tooFast.rate_max, "the refusal names the rate and its maximum");
        }

        camera.Command(Hx.HX_CMD_ARM);
        camera.Command(Hx.HX_CMD_TRIGGER);
        camera.WaitForState(Hx.HX_CAMERA_STATE_REVIEW, Wait);
        Download(client, camera, buffers);
    }

    // Lent before the settings, the buffers wait; StartDownload begins. Those beyond the last frame
    // come back unfilled.
    static void Download(Client client, Camera camera, StreamBuffer[] buffers)
    {
        var returned = new BlockingCollection<StreamBuffer>();
        client.FrameReceived += (sender, e) => returned.Add(e.Buffer);
        for (int i = 0; i < buffers.Length; i++) {
            buffers[i] = new StreamBuffer((int)Hx.HX_STREAM_MIN_BUFFER_SIZE);
            camera.LendDownload(buffers[i]);
        }
        HX_DOWNLOAD_SETTINGS download = camera.ReadDownload();
        Set(ref download.start, ref download.start_flags, First);
        Set(ref download.stop, ref download.stop_flags, Last);
        Set(ref download.format, ref download.format_flags, Hx.HX_FORMAT_TIFF);
        Set(ref download.turbo_delay, ref download.turbo_delay_flags, 1000);
        download.turbo_packet_length_flags = download.jpeg_quality_flags = 0;
        download.rate_control_flags = Hx.HX_FLAG_SET;
        download.pause_count = 1;
        download.resume_count = 2;
        camera.SetupDownload(download);
        camera.StartDownload();
        uint expected = First;
        while (true) {
            StreamBuffer buffer;
            if (!returned.TryTake(out buffer, Wait)) {
                Expect(false, "download frame " + expected + " arrived");
                return;
            }
            HX_READ_STREAM result = buffer.Result;
            uint inPixels = TiffFrameNumber(buffer.ToArray());
            Console.WriteLine("frame {0}: {1} bytes, status {2}, frame number in pixels {3}", result.frame_id, result.received_length,
                              result.status, inPixels);
            Expect(result.frame_id == expected && inPixels == expected, "download frame " + expected);
            if ((result.status & Hx.HX_STREAM_STATUS_LAST) != 0)
                break;
            expected++;
        }
        Expect(expected == Last, "the download reached its last frame");
        for (uint i = 0; i < Buffers - (Last - First + 1); i++) {
            StreamBuffer buffer;
            Expect(returned.TryTake(out buffer, Wait) && buffer.Result.received_length == 0, "a spare buffer came back unfilled");
        }
    }

    static void Set(ref uint field, ref uint flags, uint value)
    {
        field = value;
        flags = Hx.HX_FLAG_SET;
    }

    static unsafe string Text(HX_CAMERA_INFORMATION info)
    {
        return string.Format("{0}, serial {1}, firmware {2}", new string((sbyte*)info.model_name),
                             new string((sbyte*)info.serial_number), new string((sbyte*)info.device_version));
    }

    // The first four 8-bit samples of the TIFF's first strip: the frame number the camera drew.
    static uint TiffFrameNumber(byte[] tiff)
    {
        if (tiff.Length < 8 || tiff[0] != 'I' || tiff[1] != 'I')
            return uint.MaxValue;
        int directory = (int)BitConverter.ToUInt32(tiff, 4);
        int entries = BitConverter.ToUInt16(tiff, directory);
        for (int i = 0; i < entries; i++) {
            int entry = directory + 2 + 12 * i;
            if (BitConverter.ToUInt16(tiff, entry) == 273)
                return BitConverter.ToUInt32(tiff, (int)BitConverter.ToUInt32(tiff, entry + 8));
        }
        return uint.MaxValue;
    }
}
