// The managed declarations of every CS_HX_* function of libhalvex: handles as pointer-sized
// integers, records by reference as the blittable structures of Records.g.cs, and image records
// as unmanaged memory, since the library keeps using a lent record after the call returns.
using System;
using System.Runtime.InteropServices;

namespace Halvex.Native
{
    /// <summary>The host callback of CS_HX_register. The library calls it on its single callback
    /// thread, never twice at once. Keep the delegate alive for as long as the library may call it
    /// (until CS_HX_shutdown): a collected delegate is a crash.</summary>
    /// <param name="hxEvent">The HX_* event code.</param>
    /// <param name="client">The client handle.</param>
    /// <param name="camera">The camera handle, 0 where no camera applies.</param>
    /// <param name="data">The event's record, valid only during the call, or the host's own image record.</param>
    /// <param name="cookie">The value given to CS_HX_register.</param>
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void HxCallback(uint hxEvent, UIntPtr client, UIntPtr camera, IntPtr data, IntPtr cookie);

    /// <summary>The log callback of CS_HX_logger_callback, called on the thread that logged the line.</summary>
    /// <param name="level">HX_LOG_ERROR (3) or HX_LOG_TRACE (7).</param>
    /// <param name="text">The line without its time stamp and source location.</param>
    /// <param name="context">The value given to CS_HX_logger_callback.</param>
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void HxLogCallback(int level, IntPtr text, IntPtr context);

    /// <summary>A declaration of every CS_HX_* function of the native library, for hosts that
    /// want the C interface itself. Handles are <see cref="UIntPtr"/>; statuses are 0 (OK) or 1.</summary>
    public static partial class NativeMethods
    {
        /// <summary>The native library's name: halvex.dll on Windows, libhalvex.so elsewhere.</summary>
        public const string Library = "halvex";
        const CallingConvention Cdecl = CallingConvention.Cdecl;

        /// <summary>The interface version the library was built with, major part (HX_API_VERSION_MAJ).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_VersionMaj();
        /// <summary>The interface version the library was built with, minor part (HX_API_VERSION_MIN).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_VersionMin();
        /// <summary>Calls HX_register of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_register(out UIntPtr client, HxCallback callback, IntPtr cookie);
        /// <summary>Calls HX_unregister of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_unregister(UIntPtr client);
        /// <summary>Calls HX_shutdown of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_shutdown();
        /// <summary>Calls HX_discover_pause of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_discover_pause(byte pause);
        /// <summary>Calls HX_trace of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern uint CS_HX_trace(int enable);
        /// <summary>Calls HX_logger_file of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_logger_file([MarshalAs(UnmanagedType.LPStr)] string path);
        /// <summary>Calls HX_analog_gain_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_analog_gain_init(ref HX_ANALOG_GAIN record, uint size);
        /// <summary>Calls HX_battery_info_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_battery_info_init(ref HX_BATTERY_INFO record, uint size);
        /// <summary>Calls HX_camera_information_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_camera_information_init(ref HX_CAMERA_INFORMATION record, uint size);
        /// <summary>Calls HX_capture_settings_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_capture_settings_init(ref HX_CAPTURE_SETTINGS record, uint size);
        /// <summary>Calls HX_command_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_command_init(ref HX_COMMAND record, uint size);
        /// <summary>Calls HX_download_settings_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_download_settings_init(ref HX_DOWNLOAD_SETTINGS record, uint size);
        /// <summary>Calls HX_io_settings_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_io_settings_init(ref HX_IO_SETTINGS record, uint size);
        /// <summary>Calls HX_lens_settings_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_lens_settings_init(ref HX_LENS_SETTINGS record, uint size);
        /// <summary>Calls HX_lens_status_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_lens_status_init(ref HX_LENS_STATUS record, uint size);
        /// <summary>Calls HX_playback_settings_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_playback_settings_init(ref HX_PLAYBACK_SETTINGS record, uint size);
        /// <summary>Prepares an image record in unmanaged memory (HX_read_stream_init): the library keeps using a lent record after the call returns, so it must not move.</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_read_stream_init(IntPtr record, uint size);
        /// <summary>Calls HX_stream_settings_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_stream_settings_init(ref HX_STREAM_SETTINGS record, uint size);
        /// <summary>Calls HX_temperature_init of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_temperature_init(ref HX_TEMPERATURE record, uint size);
        /// <summary>Calls HX_get_handle_by_name of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_handle_by_name(UIntPtr client, out UIntPtr camera, [MarshalAs(UnmanagedType.LPStr)] string name);
        /// <summary>Calls HX_release_handle of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_release_handle(UIntPtr client, UIntPtr camera);
        /// <summary>Calls HX_setup_capture_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_capture_syn(UIntPtr client, UIntPtr camera, ref HX_CAPTURE_SETTINGS input, ref HX_CAPTURE_SETTINGS output);
        /// <summary>Calls HX_setup_download_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_download_syn(UIntPtr client, UIntPtr camera, ref HX_DOWNLOAD_SETTINGS input, ref HX_DOWNLOAD_SETTINGS output);
        /// <summary>Calls HX_setup_io_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_io_syn(UIntPtr client, UIntPtr camera, ref HX_IO_SETTINGS input, ref HX_IO_SETTINGS output);
        /// <summary>Calls HX_setup_lens_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_lens_syn(UIntPtr client, UIntPtr camera, ref HX_LENS_SETTINGS settings);
        /// <summary>Calls HX_setup_playback_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_playback_syn(UIntPtr client, UIntPtr camera, ref HX_PLAYBACK_SETTINGS input, ref HX_PLAYBACK_SETTINGS output);
        /// <summary>Calls HX_setup_stream_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_setup_stream_syn(UIntPtr client, UIntPtr camera, ref HX_STREAM_SETTINGS input, ref HX_STREAM_SETTINGS output);
        /// <summary>Reads the analog gain (HX_analog_gain with no record to write).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_analog_gain(UIntPtr client, UIntPtr camera, ref HX_ANALOG_GAIN output);
        /// <summary>Writes the analog gain (HX_analog_gain with no record to read).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_set_analog_gain(UIntPtr client, UIntPtr camera, ref HX_ANALOG_GAIN input);
        /// <summary>Calls HX_get_battery_info of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_battery_info(UIntPtr client, UIntPtr camera, ref HX_BATTERY_INFO output);
        /// <summary>Calls HX_get_camera_information_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_camera_information_syn(UIntPtr client, UIntPtr camera, ref HX_CAMERA_INFORMATION output);
        /// <summary>Calls HX_get_camera_media_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_camera_media_syn(UIntPtr client, UIntPtr camera, byte[] json, ref uint length);
        /// <summary>Calls HX_get_lens_status of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_get_lens_status(UIntPtr client, UIntPtr camera, ref HX_LENS_STATUS output);
        /// <summary>Calls HX_temperature_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_temperature_syn(UIntPtr client, UIntPtr camera, ref HX_TEMPERATURE output);
        /// <summary>Calls HX_lockCamera of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_lockCamera(UIntPtr client, UIntPtr camera);
        /// <summary>Calls HX_unlockCamera of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_unlockCamera(UIntPtr client, UIntPtr camera);
        /// <summary>Calls HX_camera_save of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_camera_save(UIntPtr client, UIntPtr camera, [MarshalAs(UnmanagedType.LPStr)] string json);
        /// <summary>Calls HX_command_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_command_syn(UIntPtr client, UIntPtr camera, ref HX_COMMAND input, ref HX_COMMAND output);
        /// <summary>Calls HX_subscribe of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_subscribe(UIntPtr client, UIntPtr camera);
        /// <summary>Calls HX_unsubscribe of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_unsubscribe(UIntPtr client, UIntPtr camera);
        /// <summary>Calls HX_live of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_live(UIntPtr client, UIntPtr camera, IntPtr record);
        /// <summary>Calls HX_live_enable of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_live_enable(UIntPtr client, UIntPtr camera, int enable);
        /// <summary>Calls HX_play of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_play(UIntPtr client, UIntPtr camera, IntPtr record);
        /// <summary>Lends a download buffer (HX_download); IntPtr.Zero starts a download whose buffers were lent before its settings.</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_download(UIntPtr client, UIntPtr camera, IntPtr record);
        /// <summary>Calls HX_download_syn of hx.h; returns its status (0 for HX_STATUS_OK).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_download_syn(UIntPtr client, UIntPtr camera, IntPtr record);
        /// <summary>Renders a flags word as text in a buffer the library shares between all callers; read it at once with Marshal.PtrToStringAnsi.</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern IntPtr CS_HX_str_flags(int flags);
        /// <summary>Hands every log line to the callback instead of standard output (HX_logger_callback); null restores standard output. Keep the delegate alive while it is installed.</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_logger_callback(HxLogCallback callback, IntPtr context);
        /// <summary>Copies the first error line the library logged on the calling thread during its last call on that thread (HX_last_error).</summary>
        [DllImport(Library, CallingConvention = Cdecl)]
        public static extern int CS_HX_last_error(byte[] text, uint size);
    }
}
