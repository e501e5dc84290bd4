// A camera of a client: its settings records, status, commands and states. Image streams are in
// Camera.Streams.cs.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using Halvex.Native;

namespace Halvex
{
    /// <summary>One camera of a <see cref="Client"/>, from <see cref="Client.OpenCamera"/>. Settings are read
    /// as objects (<see cref="ReadCapture"/>) and written by applying an object whose properties were set
    /// (<see cref="Apply(CaptureSettings)"/>): <c>camera.Apply(new CaptureSettings { Exposure = 500 })</c> changes
    /// the exposure and nothing else. Calls block the calling thread for one exchange with the camera;
    /// any thread may call them. Dispose it to stop its streams and end its subscription.</summary>
    public sealed partial class Camera : IDisposable
    {
        delegate int SetupCall<T>(UIntPtr client, UIntPtr camera, ref T input, ref T output) where T : struct;
        delegate int ReadCall<T>(UIntPtr client, UIntPtr camera, ref T output) where T : struct;

        int disposed;
        int subscribed;

        internal Camera(Client client, UIntPtr handle)
        {
            Client = client;
            Handle = handle;
            Address = AddressOf(handle);
        }

        /// <summary>The client this camera belongs to.</summary>
        public Client Client { get; }
        /// <summary>The camera handle (its IPv4 address in the low 32 bits), for the <see cref="NativeMethods"/> calls.</summary>
        public UIntPtr Handle { get; }
        /// <summary>The camera's dotted address.</summary>
        public string Address { get; }

        /// <summary>The dotted address a camera handle stands for.</summary>
        /// <param name="handle">A camera handle.</param>
        public static string AddressOf(UIntPtr handle)
        {
            ulong h = handle.ToUInt64();
            return (h & 0xFF) + "." + ((h >> 8) & 0xFF) + "." + ((h >> 16) & 0xFF) + "." + ((h >> 24) & 0xFF);
        }

        /// <summary>"Camera 127.0.0.2".</summary>
        public override string ToString() => "Camera " + Address;

        // --- settings

        /// <summary>The capture settings as the camera holds them, limits included.</summary>
        public CaptureSettings ReadCapture() => new CaptureSettings(Setup(NativeMethods.CS_HX_setup_capture_syn, new CaptureSettings().raw, "capture settings", out _));

        /// <summary>Writes the capture properties that were set on <paramref name="changes"/> (and nothing else); returns the
        /// settings as the camera holds them afterwards.</summary>
        /// <param name="changes">A settings object whose changed properties are marked (a new one, or one read and changed).</param>
        /// <exception cref="SettingRefusedException">A value was refused; it carries the camera's limits.</exception>
        public CaptureSettings Apply(CaptureSettings changes) =>
            Checked(changes, new CaptureSettings(Setup(NativeMethods.CS_HX_setup_capture_syn, changes.raw, "capture settings", out string reason)), reason);

        /// <summary>The download settings as the camera holds them.</summary>
        public DownloadSettings ReadDownload() => new DownloadSettings(Setup(NativeMethods.CS_HX_setup_download_syn, new DownloadSettings().raw, "download settings", out _));

        /// <summary>Writes the download properties that were set; returns the settings as the camera holds them.</summary>
        /// <param name="changes">The changed settings.</param>
        /// <exception cref="SettingRefusedException">A value was refused.</exception>
        public DownloadSettings Apply(DownloadSettings changes) =>
            Checked(changes, new DownloadSettings(Setup(NativeMethods.CS_HX_setup_download_syn, changes.raw, "download settings", out string reason)), reason);

        /// <summary>The external input/output settings as the camera holds them.</summary>
        public IoSettings ReadIo() => new IoSettings(Setup(NativeMethods.CS_HX_setup_io_syn, new IoSettings().raw, "IO settings", out _));

        /// <summary>Writes the IO properties that were set; returns the settings as the camera holds them.</summary>
        /// <param name="changes">The changed settings.</param>
        /// <exception cref="SettingRefusedException">A value was refused.</exception>
        public IoSettings Apply(IoSettings changes) =>
            Checked(changes, new IoSettings(Setup(NativeMethods.CS_HX_setup_io_syn, changes.raw, "IO settings", out string reason)), reason);

        /// <summary>The playback settings as the camera holds them.</summary>
        public PlaybackSettings ReadPlayback() => new PlaybackSettings(Setup(NativeMethods.CS_HX_setup_playback_syn, new PlaybackSettings().raw, "playback settings", out _));

        /// <summary>Writes the playback properties that were set; returns the settings as the camera holds them.</summary>
        /// <param name="changes">The changed settings.</param>
        /// <exception cref="SettingRefusedException">A value was refused.</exception>
        public PlaybackSettings Apply(PlaybackSettings changes) =>
            Checked(changes, new PlaybackSettings(Setup(NativeMethods.CS_HX_setup_playback_syn, changes.raw, "playback settings", out string reason)), reason);

        /// <summary>The stream settings as the camera holds them.</summary>
        public StreamSettings ReadStreamSettings() => new StreamSettings(Setup(NativeMethods.CS_HX_setup_stream_syn, new StreamSettings().raw, "stream settings", out _));

        /// <summary>Writes the stream properties that were set; returns the settings as the camera holds them.</summary>
        /// <param name="changes">The changed settings.</param>
        /// <exception cref="SettingRefusedException">A value was refused.</exception>
        public StreamSettings Apply(StreamSettings changes) =>
            Checked(changes, new StreamSettings(Setup(NativeMethods.CS_HX_setup_stream_syn, changes.raw, "stream settings", out string reason)), reason);

        /// <summary>Sends the lens properties that were set.</summary>
        /// <param name="changes">The lens settings to send.</param>
        /// <exception cref="HalvexException">The camera refused them.</exception>
        public void Apply(LensSettings changes)
        {
            ThrowIfDisposed();
            HX_LENS_SETTINGS record = changes.raw;
            Log.Check(NativeMethods.CS_HX_setup_lens_syn(Client.Handle, Handle, ref record), "lens settings of camera " + Address);
        }

        /// <summary>The analog gain and the supported gains.</summary>
        public AnalogGain ReadAnalogGain() => new AnalogGain(Read(NativeMethods.CS_HX_get_analog_gain, new AnalogGain().raw, "analog gain"));

        /// <summary>Writes the analog gain; returns it as the camera holds it afterwards.</summary>
        /// <param name="changes">The gain to write (<see cref="AnalogGain.Gain"/> set).</param>
        /// <exception cref="HalvexException">The camera refused the gain.</exception>
        public AnalogGain Apply(AnalogGain changes)
        {
            ThrowIfDisposed();
            HX_ANALOG_GAIN record = changes.raw;
            Log.Check(NativeMethods.CS_HX_set_analog_gain(Client.Handle, Handle, ref record), "analog gain of camera " + Address);
            return ReadAnalogGain();
        }

        /// <summary>The camera's identity: model, serial number, firmware, names.</summary>
        public CameraInformation ReadInformation() => new CameraInformation(Read(NativeMethods.CS_HX_get_camera_information_syn, new CameraInformation().raw, "camera information"));

        /// <summary>The camera's temperatures.</summary>
        public Temperature ReadTemperature() => new Temperature(Read(NativeMethods.CS_HX_temperature_syn, new Temperature().raw, "temperatures"));

        /// <summary>The camera's battery state.</summary>
        public BatteryInfo ReadBattery() => new BatteryInfo(Read(NativeMethods.CS_HX_get_battery_info, new BatteryInfo().raw, "battery"));

        /// <summary>The lens status.</summary>
        public LensStatus ReadLensStatus() => new LensStatus(Read(NativeMethods.CS_HX_get_lens_status, new LensStatus().raw, "lens status"));

        /// <summary>Change events of this camera go to the client's <see cref="Client.SettingsChanged"/> and
        /// <see cref="Client.StateChanged"/>, until <see cref="Unsubscribe"/> or disposal.</summary>
        public void Subscribe()
        {
            ThrowIfDisposed();
            Log.Check(NativeMethods.CS_HX_subscribe(Client.Handle, Handle), "subscribing to camera " + Address);
            Interlocked.Exchange(ref subscribed, 1);
        }

        /// <summary>Ends <see cref="Subscribe"/>.</summary>
        public void Unsubscribe()
        {
            ThrowIfDisposed();
            Interlocked.Exchange(ref subscribed, 0);
            Log.Check(NativeMethods.CS_HX_unsubscribe(Client.Handle, Handle), "unsubscribing from camera " + Address);
        }

        T Setup<T>(SetupCall<T> call, T record, string what, out string reason) where T : struct
        {
            ThrowIfDisposed();
            int status = call(Client.Handle, Handle, ref record, ref record);
            reason = Log.LastError();
            if (status != 0)
                throw new HalvexException(what + " of camera " + Address + " failed", reason);
            return record;
        }

        T Read<T>(ReadCall<T> call, T record, string what) where T : struct
        {
            ThrowIfDisposed();
            Log.Check(call(Client.Handle, Handle, ref record), what + " of camera " + Address);
            return record;
        }

        // The camera's answer, or the refusal of the first value asked for that it marked.
        T Checked<T>(T request, T result, string reason) where T : SettingsRecord
        {
            List<SettingField> refused = result.Fields
                .Where(f => f.Flags != null && (f.Flags(request) & Hx.HX_FLAG_SET) != 0 && (f.Flags(result) & Hx.HX_FLAG_ERR) != 0)
                .ToList();
            if (refused.Count > 0) {
                SettingField field = refused[0];
                throw new SettingRefusedException(Address, field.Name, field.Word(request), field.Min?.Invoke(result), field.Max?.Invoke(result),
                                                  field.Step?.Invoke(result), field.Choices?.Invoke(result), reason,
                                                  refused.Skip(1).Select(f => f.Name));
            }
            if ((request.RecordFlags & Hx.HX_FLAG_SET) != 0 && (result.RecordFlags & Hx.HX_FLAG_ERR) != 0)
                throw new HalvexException("camera " + Address + " refused part of the " + typeof(T).Name, reason);
            return result;
        }

        // --- commands and states

        /// <summary>The camera's state, read from the camera.</summary>
        public CameraState State => (CameraState)Exchange(CameraCommand.None).code;

        /// <summary>The commands the camera allows in its current state.</summary>
        public CameraCommand AllowedCommands => (CameraCommand)Exchange(CameraCommand.None).code_caps;

        /// <summary>Sends a command; returns the state the camera reported in the same exchange, which may still be the
        /// state before the command (wait with <see cref="WaitForStateAsync"/>).</summary>
        /// <param name="command">The command.</param>
        /// <exception cref="CommandRefusedException">The camera refused the command in its state.</exception>
        public CameraState Send(CameraCommand command) => (CameraState)Exchange(command).code;

        /// <summary>Arms the recorder.</summary>
        public CameraState Arm() => Send(CameraCommand.Arm);

        /// <summary>Triggers the armed recorder; the camera turns to review once the recording is done.</summary>
        public CameraState Trigger() => Send(CameraCommand.Trigger);

        /// <summary>Leaves arm, trigger or review for idle (live images); a recording held is given up.</summary>
        public CameraState GoIdle() => Send(CameraCommand.Live);

        /// <summary>Records: sets the length when given (the camera may round it), arms, triggers and waits
        /// until the recording is held (review).</summary>
        /// <param name="length">Frames to record, or null to keep the camera's length.</param>
        /// <param name="timeout">How long to wait for review (default 30 s).</param>
        /// <param name="cancel">Ends the wait early.</param>
        public async Task RecordAsync(uint? length = null, TimeSpan? timeout = null, CancellationToken cancel = default)
        {
            if (length.HasValue)
                Apply(new CaptureSettings { Length = length.Value });
            Arm();
            Trigger();
            await WaitForStateAsync(CameraState.Review, timeout ?? TimeSpan.FromSeconds(30), cancel).ConfigureAwait(false);
        }

        /// <summary>Asks the camera until it is in <paramref name="state"/>.</summary>
        /// <param name="state">The state to wait for.</param>
        /// <param name="timeout">How long to wait (default 10 s).</param>
        /// <param name="cancel">Ends the wait early.</param>
        /// <exception cref="HalvexException">The camera did not reach the state in time.</exception>
        public async Task WaitForStateAsync(CameraState state, TimeSpan? timeout = null, CancellationToken cancel = default)
        {
            TimeSpan limit = timeout ?? TimeSpan.FromSeconds(10);
            DateTime deadline = DateTime.UtcNow + limit;
            CameraState now;
            while ((now = await Task.Run(() => State, cancel).ConfigureAwait(false)) != state) {
                if (DateTime.UtcNow >= deadline)
                    throw new HalvexException("camera " + Address + " did not reach " + state + " within " + limit.TotalSeconds + " s (it is " + now + ")");
                await Task.Delay(20, cancel).ConfigureAwait(false);
            }
        }

        /// <summary>As <see cref="WaitForStateAsync"/>, blocking the calling thread.</summary>
        /// <param name="state">The state to wait for.</param>
        /// <param name="timeout">How long to wait (default 10 s).</param>
        public void WaitForState(CameraState state, TimeSpan? timeout = null) => WaitForStateAsync(state, timeout).GetAwaiter().GetResult();

        HX_COMMAND Exchange(CameraCommand command)
        {
            ThrowIfDisposed();
            var record = new HX_COMMAND { ver_maj = (ushort)Hx.HX_API_VERSION_MAJ, ver_min = (ushort)Hx.HX_API_VERSION_MIN };
            if (command != CameraCommand.None) {
                record.flags = Hx.HX_FLAG_SET;
                record.code = (uint)command;
                record.code_flags = Hx.HX_FLAG_SET;
            }
            Log.Check(NativeMethods.CS_HX_command_syn(Client.Handle, Handle, ref record, ref record), "command to camera " + Address);
            if (command != CameraCommand.None && (record.code_flags & Hx.HX_FLAG_ERR) != 0) {
                // A refused command leaves the code as sent: the state comes from a second look.
                string reason = Log.LastError();
                HX_COMMAND now = Exchange(CameraCommand.None);
                throw new CommandRefusedException(Address, command, (CameraState)now.code, (CameraCommand)now.code_caps, reason);
            }
            return record;
        }

        // Returns once everything posted to the camera before it has been handled (a state read),
        // also while the camera is being disposed.
        internal void Barrier()
        {
            var record = new HX_COMMAND { ver_maj = (ushort)Hx.HX_API_VERSION_MAJ, ver_min = (ushort)Hx.HX_API_VERSION_MIN };
            NativeMethods.CS_HX_command_syn(Client.Handle, Handle, ref record, ref record);
        }

        // --- lifetime

        internal bool IsDisposed => Volatile.Read(ref disposed) != 0;

        void ThrowIfDisposed()
        {
            if (IsDisposed)
                throw new ObjectDisposedException(ToString());
            Client.ThrowIfDisposed();
        }

        /// <summary>Stops this camera's streams (their iterators end with <see cref="ObjectDisposedException"/>) and ends
        /// its subscription. Buffers still lent stay with the library until <see cref="Client.Shutdown"/>.</summary>
        public void Dispose()
        {
            if (Interlocked.Exchange(ref disposed, 1) != 0)
                return;
            StopStreams();
            if (Interlocked.Exchange(ref subscribed, 0) != 0 && !Client.IsShutDown)
                NativeMethods.CS_HX_unsubscribe(Client.Handle, Handle);
            Client.Forget(this);
        }
    }
}
