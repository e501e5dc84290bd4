// Every CS_HX_* function the built library exports (read with nm from HX_LIBRARY) is declared in
// NativeMethods and called here at least once through that declaration. Runs last: it ends with
// the library's shutdown.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using Halvex.Native;
using Xunit;

namespace Halvex.Tests
{
    [CollectionDefinition("shutdown")]
    public class ShutdownCollection { }

    [Collection("shutdown")]
    public class ExportTests
    {
        static readonly HxCallback ignore = (e, client, camera, data, cookie) => { };
        readonly HashSet<string> called = new HashSet<string>();

        T Call<T>(string name, Func<T> call)
        {
            called.Add(name);
            return call();
        }

        static List<string> Exported()
        {
            var nm = Process.Start(new ProcessStartInfo("nm", "-D --defined-only " + Sim.Env("HX_LIBRARY")) { RedirectStandardOutput = true });
            string text = nm.StandardOutput.ReadToEnd();
            nm.WaitForExit();
            Assert.Equal(0, nm.ExitCode);
            return text.Split('\n').Select(l => l.Split(' ').Last()).Where(n => n.StartsWith("CS_HX_")).Distinct().OrderBy(n => n).ToList();
        }

        [Fact]
        public void EveryExportedWrapperIsDeclaredAndCalled()
        {
            List<string> exported = Exported();
            Assert.True(exported.Count > 40, "nm lists the wrappers");
            var declared = typeof(NativeMethods).GetMethods().Where(m => m.Name.StartsWith("CS_HX_")).Select(m => m.Name).OrderBy(n => n);
            Assert.Equal(exported, declared);

            Sim.RequirePrivateNetwork();
            CallLifecycle(out UIntPtr client);
            UIntPtr camera = UIntPtr.Zero;
            Assert.Equal(0, Call("CS_HX_get_handle_by_name", () => NativeMethods.CS_HX_get_handle_by_name(client, out camera, Sim.Address)));
            Assert.Equal(Sim.Address, Halvex.Camera.AddressOf(camera));
            CallInitialisers();
            CallSettings(client, camera);
            CallStatus(client, camera);
            CallStreams(client, camera);
            Call("CS_HX_unsubscribe", () => NativeMethods.CS_HX_unsubscribe(client, camera));
            Call("CS_HX_release_handle", () => NativeMethods.CS_HX_release_handle(client, camera));
            Assert.Equal(0, Call("CS_HX_unregister", () => NativeMethods.CS_HX_unregister(client)));
            Assert.Equal(0, Call("CS_HX_shutdown", NativeMethods.CS_HX_shutdown));

            Assert.Empty(exported.Except(called));
        }

        void CallLifecycle(out UIntPtr client)
        {
            Assert.Equal((int)Hx.HX_API_VERSION_MAJ, Call("CS_HX_VersionMaj", NativeMethods.CS_HX_VersionMaj));
            Assert.Equal((int)Hx.HX_API_VERSION_MIN, Call("CS_HX_VersionMin", NativeMethods.CS_HX_VersionMin));
            UIntPtr handle = UIntPtr.Zero;
            Assert.Equal(0, Call("CS_HX_register", () => NativeMethods.CS_HX_register(out handle, ignore, IntPtr.Zero)));
            Assert.NotEqual(UIntPtr.Zero, handle);
            client = handle;
            Assert.Equal(0, Call("CS_HX_discover_pause", () => NativeMethods.CS_HX_discover_pause(1)));
            Assert.Equal(0u, Call("CS_HX_trace", () => NativeMethods.CS_HX_trace(0)) & Hx.HX_TRACE_ALL);
            string path = Path.Combine(Path.GetTempPath(), "halvex-export-test-" + Environment.ProcessId + ".log");
            Assert.Equal(0, Call("CS_HX_logger_file", () => NativeMethods.CS_HX_logger_file(path)));
            Assert.Equal(0, NativeMethods.CS_HX_logger_file(null));
            File.Delete(path);
            Assert.Equal(0, Call("CS_HX_logger_callback", () => NativeMethods.CS_HX_logger_callback(null, IntPtr.Zero)));
            Assert.Equal("Err | Set | ---", Marshal.PtrToStringAnsi(Call("CS_HX_str_flags", () => NativeMethods.CS_HX_str_flags(6))));
            Assert.Equal(1, Call("CS_HX_last_error", () => NativeMethods.CS_HX_last_error(null, 0)));
        }

        // Each initialiser takes exactly its record's size and refuses one byte less.
        void CallInitialisers()
        {
            Init<HX_ANALOG_GAIN>("CS_HX_analog_gain_init", (ref HX_ANALOG_GAIN r, uint s) => NativeMethods.CS_HX_analog_gain_init(ref r, s));
            Init<HX_BATTERY_INFO>("CS_HX_battery_info_init", (ref HX_BATTERY_INFO r, uint s) => NativeMethods.CS_HX_battery_info_init(ref r, s));
            Init<HX_CAMERA_INFORMATION>("CS_HX_camera_information_init", (ref HX_CAMERA_INFORMATION r, uint s) => NativeMethods.CS_HX_camera_information_init(ref r, s));
            Init<HX_CAPTURE_SETTINGS>("CS_HX_capture_settings_init", (ref HX_CAPTURE_SETTINGS r, uint s) => NativeMethods.CS_HX_capture_settings_init(ref r, s));
            Init<HX_COMMAND>("CS_HX_command_init", (ref HX_COMMAND r, uint s) => NativeMethods.CS_HX_command_init(ref r, s));
            Init<HX_DOWNLOAD_SETTINGS>("CS_HX_download_settings_init", (ref HX_DOWNLOAD_SETTINGS r, uint s) => NativeMethods.CS_HX_download_settings_init(ref r, s));
            Init<HX_IO_SETTINGS>("CS_HX_io_settings_init", (ref HX_IO_SETTINGS r, uint s) => NativeMethods.CS_HX_io_settings_init(ref r, s));
            Init<HX_LENS_SETTINGS>("CS_HX_lens_settings_init", (ref HX_LENS_SETTINGS r, uint s) => NativeMethods.CS_HX_lens_settings_init(ref r, s));
            Init<HX_LENS_STATUS>("CS_HX_lens_status_init", (ref HX_LENS_STATUS r, uint s) => NativeMethods.CS_HX_lens_status_init(ref r, s));
            Init<HX_PLAYBACK_SETTINGS>("CS_HX_playback_settings_init", (ref HX_PLAYBACK_SETTINGS r, uint s) => NativeMethods.CS_HX_playback_settings_init(ref r, s));
            Init<HX_STREAM_SETTINGS>("CS_HX_stream_settings_init", (ref HX_STREAM_SETTINGS r, uint s) => NativeMethods.CS_HX_stream_settings_init(ref r, s));
            Init<HX_TEMPERATURE>("CS_HX_temperature_init", (ref HX_TEMPERATURE r, uint s) => NativeMethods.CS_HX_temperature_init(ref r, s));
            IntPtr stream = Marshal.AllocHGlobal(Marshal.SizeOf<HX_READ_STREAM>());
            uint size = (uint)Marshal.SizeOf<HX_READ_STREAM>();
            Assert.Equal(1, Call("CS_HX_read_stream_init", () => NativeMethods.CS_HX_read_stream_init(stream, size - 1)));
            Assert.Equal(0, NativeMethods.CS_HX_read_stream_init(stream, size));
            Assert.Equal((ushort)Hx.HX_API_VERSION_MAJ, Marshal.PtrToStructure<HX_READ_STREAM>(stream).ver_maj);
            Marshal.FreeHGlobal(stream);
        }

        delegate int Initialiser<T>(ref T record, uint size);

        void Init<T>(string name, Initialiser<T> init) where T : struct
        {
            var record = new T();
            uint size = (uint)Marshal.SizeOf<T>();
            Assert.Equal(1, Call(name, () => init(ref record, size - 1)));
            Assert.Equal(0, init(ref record, size));
            var header = (ushort)typeof(T).GetField("ver_min").GetValue(record);
            Assert.Equal((ushort)Hx.HX_API_VERSION_MIN, header);
        }

        void CallSettings(UIntPtr client, UIntPtr camera)
        {
            var capture = new CaptureSettings().Raw;
            Assert.Equal(0, Call("CS_HX_setup_capture_syn", () => NativeMethods.CS_HX_setup_capture_syn(client, camera, ref capture, ref capture)));
            Assert.NotEqual(0u, capture.width);
            var download = new DownloadSettings().Raw;
            Call("CS_HX_setup_download_syn", () => NativeMethods.CS_HX_setup_download_syn(client, camera, ref download, ref download));
            var io = new IoSettings().Raw;
            Call("CS_HX_setup_io_syn", () => NativeMethods.CS_HX_setup_io_syn(client, camera, ref io, ref io));
            var lens = new LensSettings().Raw;
            Call("CS_HX_setup_lens_syn", () => NativeMethods.CS_HX_setup_lens_syn(client, camera, ref lens));
            var playback = new PlaybackSettings().Raw;
            Call("CS_HX_setup_playback_syn", () => NativeMethods.CS_HX_setup_playback_syn(client, camera, ref playback, ref playback));
            var stream = new StreamSettings().Raw;
            Call("CS_HX_setup_stream_syn", () => NativeMethods.CS_HX_setup_stream_syn(client, camera, ref stream, ref stream));
            var gain = new AnalogGain().Raw;
            Assert.Equal(0, Call("CS_HX_get_analog_gain", () => NativeMethods.CS_HX_get_analog_gain(client, camera, ref gain)));
            Assert.NotEqual(0u, gain.gain_caps);
            gain.flags = Hx.HX_FLAG_SET;
            Call("CS_HX_set_analog_gain", () => NativeMethods.CS_HX_set_analog_gain(client, camera, ref gain));
            var command = new HX_COMMAND { ver_maj = (ushort)Hx.HX_API_VERSION_MAJ, ver_min = (ushort)Hx.HX_API_VERSION_MIN };
            Assert.Equal(0, Call("CS_HX_command_syn", () => NativeMethods.CS_HX_command_syn(client, camera, ref command, ref command)));
            Assert.NotEqual(0u, command.code);
            Assert.Equal(0, Call("CS_HX_subscribe", () => NativeMethods.CS_HX_subscribe(client, camera)));
        }

        void CallStatus(UIntPtr client, UIntPtr camera)
        {
            var info = new CameraInformation().Raw;
            Assert.Equal(0, Call("CS_HX_get_camera_information_syn", () => NativeMethods.CS_HX_get_camera_information_syn(client, camera, ref info)));
            Assert.NotEmpty(new CameraInformation(info).SerialNumber);
            var battery = new BatteryInfo().Raw;
            Call("CS_HX_get_battery_info", () => NativeMethods.CS_HX_get_battery_info(client, camera, ref battery));
            var lens = new LensStatus().Raw;
            Call("CS_HX_get_lens_status", () => NativeMethods.CS_HX_get_lens_status(client, camera, ref lens));
            var temperature = new Temperature().Raw;
            Call("CS_HX_temperature_syn", () => NativeMethods.CS_HX_temperature_syn(client, camera, ref temperature));
            uint length = 256;
            var json = new byte[length];
            Call("CS_HX_get_camera_media_syn", () => NativeMethods.CS_HX_get_camera_media_syn(client, camera, json, ref length));
            Call("CS_HX_lockCamera", () => NativeMethods.CS_HX_lockCamera(client, camera));
            Call("CS_HX_unlockCamera", () => NativeMethods.CS_HX_unlockCamera(client, camera));
            // An empty save description is refused before anything reaches the camera.
            Assert.Equal(1, Call("CS_HX_camera_save", () => NativeMethods.CS_HX_camera_save(client, camera, "")));
        }

        // Records that are refused or stay lent until the shutdown frees them.
        void CallStreams(UIntPtr client, UIntPtr camera)
        {
            Assert.Equal(0, Call("CS_HX_live_enable", () => NativeMethods.CS_HX_live_enable(client, camera, 0)));
            IntPtr small = Marshal.AllocHGlobal(Marshal.SizeOf<HX_READ_STREAM>());
            IntPtr memory = Marshal.AllocHGlobal(4096);
            NativeMethods.CS_HX_read_stream_init(small, (uint)Marshal.SizeOf<HX_READ_STREAM>());
            var record = Marshal.PtrToStructure<HX_READ_STREAM>(small);
            record.buffer = memory;
            record.buffer_size = 4096;
            Marshal.StructureToPtr(record, small, false);
            // Live and playback buffers need at least HX_STREAM_MIN_BUFFER_SIZE bytes.
            Assert.Equal(1, Call("CS_HX_play", () => NativeMethods.CS_HX_play(client, camera, small)));
            Assert.Equal(1, Call("CS_HX_live", () => NativeMethods.CS_HX_live(client, camera, small)));
            Assert.Equal(1, Call("CS_HX_download_syn", () => NativeMethods.CS_HX_download_syn(client, camera, IntPtr.Zero)));
            Call("CS_HX_download", () => NativeMethods.CS_HX_download(client, camera, IntPtr.Zero));
            Marshal.FreeHGlobal(memory);
            Marshal.FreeHGlobal(small);
        }
    }
}
