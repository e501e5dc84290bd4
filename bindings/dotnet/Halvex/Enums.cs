// Named values of hx.h's enumerated fields, states, commands, events and trace categories, taken
// from the generated constants so that they cannot drift from the header.
using System;
using Halvex.Native;

namespace Halvex
{
    /// <summary>A camera's recording state (the state word of a command exchange).</summary>
    public enum CameraState : uint
    {
        /// <summary>No state read yet, or a value the camera family does not name.</summary>
        Unknown = 0,
        /// <summary>Idle: live images, no recording held.</summary>
        Idle = Hx.HX_CAMERA_STATE_IDLE,
        /// <summary>Armed: recording, waiting for the trigger.</summary>
        Armed = Hx.HX_CAMERA_STATE_ARM,
        /// <summary>Triggered: recording the frames after the trigger.</summary>
        Triggered = Hx.HX_CAMERA_STATE_TRIGGER,
        /// <summary>Review: a recording is held and can be played back or downloaded.</summary>
        Review = Hx.HX_CAMERA_STATE_REVIEW,
        /// <summary>Busy for a moment (asked for with <see cref="CameraCommand.Busy"/>).</summary>
        Busy = Hx.HX_CAMERA_STATE_BUSY,
    }

    /// <summary>Commands a camera takes (<see cref="Camera.Send"/>); as a set, the commands allowed in a state.</summary>
    [Flags]
    public enum CameraCommand : uint
    {
        /// <summary>No command.</summary>
        None = 0,
        /// <summary>Back to idle and live images; a recording held in review is given up (<see cref="Camera.GoIdle"/>).</summary>
        Live = Hx.HX_CMD_LIVE,
        /// <summary>Arm the recorder.</summary>
        Arm = Hx.HX_CMD_ARM,
        /// <summary>Trigger the armed recorder.</summary>
        Trigger = Hx.HX_CMD_TRIGGER,
        /// <summary>Write the first control key.</summary>
        KeyA = Hx.HX_CMD_KEY_A,
        /// <summary>Write the second control key.</summary>
        KeyB = Hx.HX_CMD_KEY_B,
        /// <summary>Ask for the camera's brief busy state.</summary>
        Busy = Hx.HX_CMD_BUSY,
    }

    /// <summary>The library's events, as <see cref="CameraEventArgs.Kind"/>.</summary>
    public enum EventKind : uint
    {
        /// <summary>Discovery found a camera (every client).</summary>
        Discovery = Hx.HX_DISCOVERY,
        /// <summary>A camera was lost (every client).</summary>
        End = Hx.HX_END,
        /// <summary>Capture settings changed (subscribed clients).</summary>
        CaptureChange = Hx.HX_CAPTURE_CHANGE,
        /// <summary>The camera state changed (subscribed clients).</summary>
        State = Hx.HX_STATE,
        /// <summary>Download settings changed (subscribed clients).</summary>
        DownloadChange = Hx.HX_DOWNLOAD_CHANGE,
        /// <summary>External input/output settings changed (subscribed clients).</summary>
        IoChange = Hx.HX_IO_CHANGE,
        /// <summary>The lens status changed (subscribed clients).</summary>
        LensChange = Hx.HX_LENS_CHANGE,
        /// <summary>Playback settings changed (subscribed clients).</summary>
        PlaybackChange = Hx.HX_PLAYBACK_CHANGE,
        /// <summary>Stream settings changed (subscribed clients).</summary>
        StreamChange = Hx.HX_STREAM_CHANGE,
        /// <summary>A download buffer came back.</summary>
        DownloadData = Hx.HX_DOWNLOAD_DATA,
        /// <summary>A live buffer came back.</summary>
        LiveData = Hx.HX_LIVE_DATA,
        /// <summary>A playback buffer came back.</summary>
        PlaybackData = Hx.HX_PLAYBACK_DATA,
        /// <summary>Progress of a recording or camera save (subscribed clients).</summary>
        ProgressUpdate = Hx.HX_PROGRESS_UPDATE,
        /// <summary>The stream packet size was agreed (every client).</summary>
        StreamNegotiation = Hx.HX_STREAM_NEGOTIATION,
    }

    /// <summary>Pixel depth and packing of the sensor's output (<see cref="CaptureSettings.BitMode"/>); as a set, the supported modes.</summary>
    [Flags]
    public enum BitMode : uint
    {
        /// <summary>None.</summary>
        None = 0,
        /// <summary>8-bit pixels, one byte each.</summary>
        Mode8A = Hx.HX_BIT_MODE_8A,
        /// <summary>8-bit pixels (second camera code).</summary>
        Mode8B = Hx.HX_BIT_MODE_8B,
        /// <summary>8-bit pixels (third camera code).</summary>
        Mode8C = Hx.HX_BIT_MODE_8C,
        /// <summary>8-bit pixels (fourth camera code).</summary>
        Mode8D = Hx.HX_BIT_MODE_8D,
        /// <summary>8-bit pixels (fifth camera code).</summary>
        Mode8E = Hx.HX_BIT_MODE_8E,
        /// <summary>10-bit pixels, three in four bytes.</summary>
        Mode10A = Hx.HX_BIT_MODE_10A,
        /// <summary>10-bit pixels, three in four bytes (second camera code).</summary>
        Mode10B = Hx.HX_BIT_MODE_10B,
        /// <summary>10-bit pixels, three in four bytes (third camera code).</summary>
        Mode10C = Hx.HX_BIT_MODE_10C,
        /// <summary>12-bit pixels, five in eight bytes.</summary>
        Mode12 = Hx.HX_BIT_MODE_12,
    }

    /// <summary>Binning, by the camera's two binning factors (<see cref="CaptureSettings.BnsMode"/>).</summary>
    [Flags]
    public enum BinningMode : uint
    {
        /// <summary>None.</summary>
        None = 0,
        /// <summary>No binning.</summary>
        Mode1X1 = Hx.HX_BNS_MODE_1X1,
        /// <summary>1 by 2.</summary>
        Mode1X2 = Hx.HX_BNS_MODE_1X2,
        /// <summary>1 by 4.</summary>
        Mode1X4 = Hx.HX_BNS_MODE_1X4,
        /// <summary>2 by 1.</summary>
        Mode2X1 = Hx.HX_BNS_MODE_2X1,
        /// <summary>4 by 1.</summary>
        Mode4X1 = Hx.HX_BNS_MODE_4X1,
        /// <summary>2 by 2.</summary>
        Mode2X2 = Hx.HX_BNS_MODE_2X2,
    }

    /// <summary>Fixed-pattern-noise correction (<see cref="CaptureSettings.FpnMode"/>).</summary>
    [Flags]
    public enum FpnModes : uint
    {
        /// <summary>None.</summary>
        None = 0,
        /// <summary>Correction off.</summary>
        Off = Hx.HX_FPN_MODE_OFF,
        /// <summary>First correction.</summary>
        A = Hx.HX_FPN_MODE_A,
        /// <summary>Second correction.</summary>
        B = Hx.HX_FPN_MODE_B,
        /// <summary>Reported with <see cref="B"/> when the camera adds its extra bit.</summary>
        BExtra = Hx.HX_FPN_MODE_B_EXTRA,
        /// <summary>Calibration.</summary>
        Calibrate = Hx.HX_FPN_MODE_CALIBRATE,
    }

    /// <summary>How the camera records (<see cref="CaptureSettings.RecordMode"/>).</summary>
    public enum RecordMode : uint
    {
        /// <summary>Recording around a trigger position.</summary>
        Standard = Hx.HX_RECORD_MODE_STANDARD,
        /// <summary>Start-trigger recording of at least 10 frames.</summary>
        Ltr = Hx.HX_RECORD_MODE_LTR,
        /// <summary>Paged image memory.</summary>
        Paged = Hx.HX_RECORD_MODE_PAGED,
        /// <summary>Paged image memory, second form.</summary>
        PagedB = Hx.HX_RECORD_MODE_PAGED_B,
        /// <summary>Paged image memory, third form.</summary>
        PagedC = Hx.HX_RECORD_MODE_PAGED_C,
    }

    /// <summary>How downloaded frames are delivered (<see cref="DownloadSettings.Format"/>).</summary>
    [Flags]
    public enum DownloadFormat : uint
    {
        /// <summary>None.</summary>
        None = 0,
        /// <summary>JPEG at the download's JPEG quality.</summary>
        Jpeg = Hx.HX_FORMAT_JPEG,
        /// <summary>The camera's download type 3.</summary>
        Type3 = Hx.HX_FORMAT_TYPE3,
        /// <summary>The camera's download type 2.</summary>
        Type2 = Hx.HX_FORMAT_TYPE2,
        /// <summary>DNG (colour sensors).</summary>
        Dng = Hx.HX_FORMAT_DNG,
        /// <summary>TIFF files as the camera writes them.</summary>
        Tiff = Hx.HX_FORMAT_TIFF,
        /// <summary>Packed pixel data; TIFF when the packing library is absent.</summary>
        Packed = Hx.HX_FORMAT_PACKED,
    }

    /// <summary>In-camera playback (<see cref="PlaybackSettings.Mode"/>).</summary>
    [Flags]
    public enum PlaybackMode : uint
    {
        /// <summary>None.</summary>
        None = 0,
        /// <summary>Forward.</summary>
        Forward = Hx.HX_PLAY_FORWARD,
        /// <summary>Reverse.</summary>
        Reverse = Hx.HX_PLAY_REVERSE,
        /// <summary>Paused; a new current frame steps to it.</summary>
        Pause = Hx.HX_PLAY_PAUSE,
    }

    /// <summary>Analog gain factors (<see cref="AnalogGain.Gain"/>), named by the factor.</summary>
    [Flags]
    public enum GainFactor : uint
    {
        /// <summary>None.</summary>
        None = 0,
        /// <summary>1.00</summary>
        Times1_00 = Hx.HX_ANALOG_GAIN_1_00,
        /// <summary>1.50</summary>
        Times1_50 = Hx.HX_ANALOG_GAIN_1_50,
        /// <summary>2.00</summary>
        Times2_00 = Hx.HX_ANALOG_GAIN_2_00,
        /// <summary>2.50</summary>
        Times2_50 = Hx.HX_ANALOG_GAIN_2_50,
        /// <summary>3.00</summary>
        Times3_00 = Hx.HX_ANALOG_GAIN_3_00,
        /// <summary>3.50</summary>
        Times3_50 = Hx.HX_ANALOG_GAIN_3_50,
        /// <summary>4.00</summary>
        Times4_00 = Hx.HX_ANALOG_GAIN_4_00,
        /// <summary>4.50</summary>
        Times4_50 = Hx.HX_ANALOG_GAIN_4_50,
    }

    /// <summary>A signal edge of the external inputs.</summary>
    public enum Edge : uint
    {
        /// <summary>Falling edge.</summary>
        Falling = Hx.HX_EDGE_FALLING,
        /// <summary>Rising edge (any value but 0 means rising).</summary>
        Rising = Hx.HX_EDGE_RISING,
    }

    /// <summary>How the sync input is read (<see cref="IoSettings.SyncInPpf"/>).</summary>
    public enum SyncInMode : uint
    {
        /// <summary>Master rate in frames per second.</summary>
        PerSecond = Hx.HX_SYNC_PER_SECOND,
        /// <summary>Pulses per frame with a divisor.</summary>
        PerFrame = Hx.HX_SYNC_PER_FRAME,
    }

    /// <summary>The source of the sync output (<see cref="IoSettings.SyncOutSource"/>).</summary>
    public enum SyncOutSource : uint
    {
        /// <summary>First source.</summary>
        A = Hx.HX_SYNC_OUT_SOURCE_A,
        /// <summary>Second source.</summary>
        B = Hx.HX_SYNC_OUT_SOURCE_B,
        /// <summary>Leave the camera's source as it is.</summary>
        Keep = Hx.HX_SYNC_OUT_SOURCE_KEEP,
    }

    /// <summary>What the library wrote into a returned image buffer.</summary>
    [Flags]
    public enum StreamStatus : uint
    {
        /// <summary>Nothing.</summary>
        None = 0,
        /// <summary>The buffer holds the start of an image.</summary>
        Leader = Hx.HX_STREAM_STATUS_LEADER,
        /// <summary>The buffer holds the end of an image.</summary>
        Complete = Hx.HX_STREAM_STATUS_COMPLETE,
        /// <summary>The buffer ends the stream (the last frame of a download).</summary>
        Last = Hx.HX_STREAM_STATUS_LAST,
        /// <summary>A faulty image; with <see cref="Last"/>, the buffer came back unfilled.</summary>
        Error = Hx.HX_STREAM_STATUS_ERROR,
    }

    /// <summary>Trace categories of the library's log.</summary>
    [Flags]
    public enum TraceCategories : uint
    {
        /// <summary>None.</summary>
        None = 0,
        /// <summary>Suppresses every category line.</summary>
        Silent = Hx.HX_TRACE_SILENT,
        /// <summary>Start-up and shut-down.</summary>
        Lifecycle = Hx.HX_TRACE_LIFECYCLE,
        /// <summary>Camera operations.</summary>
        Operations = Hx.HX_TRACE_OPERATIONS,
        /// <summary>Delivery of events and buffers.</summary>
        Callback = Hx.HX_TRACE_CALLBACK,
        /// <summary>API entry lines and record dumps.</summary>
        Api = Hx.HX_TRACE_API,
        /// <summary>Per-camera service threads.</summary>
        Services = Hx.HX_TRACE_SERVICES,
        /// <summary>Camera discovery.</summary>
        Discovery = Hx.HX_TRACE_DISCOVERY,
        /// <summary>The control protocol.</summary>
        Comm = Hx.HX_TRACE_COMM,
        /// <summary>The CS_HX_* wrappers.</summary>
        Wrapper = Hx.HX_TRACE_WRAPPER,
        /// <summary>Image streams.</summary>
        Stream = Hx.HX_TRACE_STREAM,
        /// <summary>UDP sockets.</summary>
        Socket = Hx.HX_TRACE_SOCKET,
        /// <summary>The image-packing loader.</summary>
        Packing = Hx.HX_TRACE_PACKING,
    }
}
