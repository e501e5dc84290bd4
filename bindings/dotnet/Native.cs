// The managed declarations of every CS_HX_* function of libhalvex: handles as pointer-sized
// integers, records by reference as the blittable structures of Records.g.cs, and image records
// as unmanaged memory, since the library keeps using a lent record after the call returns.
using System;
using System.Runtime.InteropServices;

namespace Halvex.Native
{
    // Runs on the library's callback thread. The host keeps the delegate alive for as long as the
    // library may call it (until CS_HX_shutdown): a collected delegate is a crash.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void HxCallback(uint hxEvent, UIntPtr client, UIntPtr camera, IntPtr data, IntPtr cookie);
    // Runs on whichever thread logged the line; the same keep-alive rule holds until it is replaced.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void HxLogCallback(int level, [MarshalAs(UnmanagedType.LPStr)] string text, IntPtr context);

    public static class NativeMethods
    {
        // Found as libhalvex.so through the loader's search (LD_LIBRARY_PATH, or a dllmap).
        public const string Library = "halvex";
        const CallingConvention Cdecl = CallingConvention.Cdecl;

        [DllImport(Library, CallingConvention = Cdecl)] public static extern int CS_HX_VersionMaj();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int CS_HX_VersionMin();

        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_register(out UIntPtr client, HxCallback callback, IntPtr cookie);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int CS_HX_unregister(UIntPtr client);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int CS_HX_shutdown();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int CS_HX_discover_pause(byte pause);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern uint CS_HX_trace(int enable);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_logger_file([MarshalAs(UnmanagedType.LPStr)] string path);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_logger_callback(HxLogCallback callback, IntPtr context);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_last_error(byte[] text, uint size);

        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_analog_gain_init(ref HX_ANALOG_GAIN record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_battery_info_init(ref HX_BATTERY_INFO record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_camera_information_init(ref HX_CAMERA_INFORMATION record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_capture_settings_init(ref HX_CAPTURE_SETTINGS record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_command_init(ref HX_COMMAND record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_download_settings_init(ref HX_DOWNLOAD_SETTINGS record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_io_settings_init(ref HX_IO_SETTINGS record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_lens_settings_init(ref HX_LENS_SETTINGS record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_lens_status_init(ref HX_LENS_STATUS record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_playback_settings_init(ref HX_PLAYBACK_SETTINGS record, uint size);
        // An image record lives in unmanaged memory (see the file comment).
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_read_stream_init(IntPtr record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_stream_settings_init(ref HX_STREAM_SETTINGS record, uint size);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_temperature_init(ref HX_TEMPERATURE record, uint size);

        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_handle_by_name(UIntPtr client, out UIntPtr camera,
                                                          [MarshalAs(UnmanagedType.LPStr)] string name);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_release_handle(UIntPtr client, UIntPtr camera);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_capture_syn(UIntPtr client, UIntPtr camera, ref HX_CAPTURE_SETTINGS input,
                                                         ref HX_CAPTURE_SETTINGS output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_download_syn(UIntPtr client, UIntPtr camera, ref HX_DOWNLOAD_SETTINGS input,
                                                          ref HX_DOWNLOAD_SETTINGS output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_io_syn(UIntPtr client, UIntPtr camera, ref HX_IO_SETTINGS input,
                                                    ref HX_IO_SETTINGS output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_lens_syn(UIntPtr client, UIntPtr camera, ref HX_LENS_SETTINGS settings);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_playback_syn(UIntPtr client, UIntPtr camera, ref HX_PLAYBACK_SETTINGS input,
                                                          ref HX_PLAYBACK_SETTINGS output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_stream_syn(UIntPtr client, UIntPtr camera, ref HX_STREAM_SETTINGS input,
                                                        ref HX_STREAM_SETTINGS output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_analog_gain(UIntPtr client, UIntPtr camera, ref HX_ANALOG_GAIN output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_set_analog_gain(UIntPtr client, UIntPtr camera, ref HX_ANALOG_GAIN input);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_battery_info(UIntPtr client, UIntPtr camera, ref HX_BATTERY_INFO output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_camera_information_syn(UIntPtr client, UIntPtr camera,
                                                                  ref HX_CAMERA_INFORMATION output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_camera_media_syn(UIntPtr client, UIntPtr camera, byte[] json, ref uint length);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_lens_status(UIntPtr client, UIntPtr camera, ref HX_LENS_STATUS output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_temperature_syn(UIntPtr client, UIntPtr camera, ref HX_TEMPERATURE output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_lockCamera(UIntPtr client, UIntPtr camera);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_unlockCamera(UIntPtr client, UIntPtr camera);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_camera_save(UIntPtr client, UIntPtr camera, [MarshalAs(UnmanagedType.LPStr)] string json);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_command_syn(UIntPtr client, UIntPtr camera, ref HX_COMMAND input, ref HX_COMMAND output);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_subscribe(UIntPtr client, UIntPtr camera);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_unsubscribe(UIntPtr client, UIntPtr camera);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_live(UIntPtr client, UIntPtr camera, IntPtr record);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_live_enable(UIntPtr client, UIntPtr camera, int enable);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_play(UIntPtr client, UIntPtr camera, IntPtr record);
        // IntPtr.Zero starts a download whose buffers were lent before its settings.
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_download(UIntPtr client, UIntPtr camera, IntPtr record);
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_download_syn(UIntPtr client, UIntPtr camera, IntPtr record);
        // The text lives in the library (shared by all callers): read it with Marshal.PtrToStringAnsi.
        [DllImport(Library, CallingConvention = Cdecl)] public static extern IntPtr CS_HX_str_flags(int flags);
    }
}
