// An idiomatic layer over the CS_HX_* declarations: a disposable client whose library events are
// .NET events, cameras with settings records as structures, refusals as exceptions, and image
// buffers in unmanaged memory that the library fills directly.
using System;
using System.Collections.Generic;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Threading;
using Halvex.Native;

namespace Halvex
{
    public class HalvexException : Exception
    {
        public HalvexException(string message) : base(message) { }
    }

    // The camera refused a value; the limits are the record's words beside the field (0 where the
    // field has none).
    public class SettingRefusedException : HalvexException
    {
        public string Field { get; private set; }
        public uint Value { get; private set; }
        public uint Minimum { get; private set; }
        public uint Maximum { get; private set; }

        public SettingRefusedException(string camera, string field, uint value, uint minimum, uint maximum)
            : base(string.Format("camera {0} refused {1}={2} (limits {3}..{4})", camera, field, value, minimum, maximum))
        {
            Field = field;
            Value = value;
            Minimum = minimum;
            Maximum = maximum;
        }
    }

    // An event with the record it carried, copied out of the library's memory (null where none).
    public sealed class CameraEventArgs : EventArgs
    {
        public uint Event { get; internal set; }
        public string Camera { get; internal set; }
        public object Record { get; internal set; }
    }

    // A lent image buffer the library gave back.
    public sealed class FrameEventArgs : EventArgs
    {
        public uint Event { get; internal set; }
        public StreamBuffer Buffer { get; internal set; }
    }

    // A registered library client. Its events are raised on the library's callback thread, one at a
    // time: handlers must return quickly and must not call Client.Shutdown.
    public sealed class Client : IDisposable
    {
        // Static, so the delegate outlives every client: the library may call it until shutdown.
        static readonly HxCallback callback = OnEvent;
        static readonly Dictionary<long, Client> clients = new Dictionary<long, Client>();
        static readonly Dictionary<IntPtr, StreamBuffer> lent = new Dictionary<IntPtr, StreamBuffer>();
        static long nextCookie;

        readonly long cookie;
        public UIntPtr Handle { get; private set; }

        public event EventHandler<CameraEventArgs> Discovered;
        public event EventHandler<CameraEventArgs> CaptureChanged;
        public event EventHandler<CameraEventArgs> StateChanged;
        // Every event but image buffers, after the specific event above.
        public event EventHandler<CameraEventArgs> CameraEvent;
        public event EventHandler<FrameEventArgs> FrameReceived;

        public Client()
        {
            lock (clients) {
                cookie = ++nextCookie;
                clients[cookie] = this;
            }
            UIntPtr handle;
            if (NativeMethods.CS_HX_register(out handle, callback, new IntPtr(cookie)) != 0) {
                lock (clients)
                    clients.Remove(cookie);
                throw new HalvexException("CS_HX_register failed (the library's log says why)");
            }
            Handle = handle;
        }

        public void Dispose()
        {
            bool registered;
            lock (clients)
                registered = clients.Remove(cookie);
            if (registered)
                NativeMethods.CS_HX_unregister(Handle);
        }

        // Stops every library thread; buffers still lent come back first. The library cannot be used
        // again in this process.
        public static void Shutdown()
        {
            Check(NativeMethods.CS_HX_shutdown(), "CS_HX_shutdown");
            lock (lent)
                lent.Clear();
        }

        // The camera at a dotted address (or with a user-defined name discovery has seen), asked again
        // until it answers or the time has passed.
        public Camera FindCamera(string name, TimeSpan wait)
        {
            DateTime deadline = DateTime.UtcNow + wait;
            UIntPtr camera;
            while (NativeMethods.CS_HX_get_handle_by_name(Handle, out camera, name) != 0) {
                if (DateTime.UtcNow >= deadline)
                    throw new HalvexException("no camera answers as " + name);
                Thread.Sleep(100);
            }
            return new Camera(this, camera);
        }

        internal static void Lending(StreamBuffer buffer, bool lending)
        {
            lock (lent) {
                if (lending)
                    lent[buffer.Record] = buffer;
                else
                    lent.Remove(buffer.Record);
            }
        }

        static void OnEvent(uint hxEvent, UIntPtr clientHandle, UIntPtr camera, IntPtr data, IntPtr cookie)
        {
            try {
                Client client;
                lock (clients)
                    clients.TryGetValue(cookie.ToInt64(), out client);
                if (client == null)
                    return;
                if (hxEvent == Hx.HX_DOWNLOAD_DATA || hxEvent == Hx.HX_LIVE_DATA || hxEvent == Hx.HX_PLAYBACK_DATA) {
                    StreamBuffer buffer;
                    lock (lent) {
                        if (!lent.TryGetValue(data, out buffer))
                            return;
                        lent.Remove(data);
                    }
                    var frames = client.FrameReceived;
                    if (frames != null)
                        frames(client, new FrameEventArgs { Event = hxEvent, Buffer = buffer });
                    return;
                }
                client.Raise(hxEvent, camera, data);
            } catch (Exception error) {
                // An exception must not unwind into the library's thread.
                Console.Error.WriteLine("halvex: event {0}: {1}", hxEvent, error);
            }
        }

        void Raise(uint hxEvent, UIntPtr camera, IntPtr data)
        {
            var args = new CameraEventArgs { Event = hxEvent, Camera = Camera.AddressOf(camera), Record = RecordOf(hxEvent, data) };
            EventHandler<CameraEventArgs> specific = hxEvent == Hx.HX_DISCOVERY ? Discovered
                                                   : hxEvent == Hx.HX_CAPTURE_CHANGE ? CaptureChanged
                                                   : hxEvent == Hx.HX_STATE ? StateChanged : null;
            if (specific != null)
                specific(this, args);
            var all = CameraEvent;
            if (all != null)
                all(this, args);
        }

        static object RecordOf(uint hxEvent, IntPtr data)
        {
            if (data == IntPtr.Zero)
                return null;
            if (hxEvent == Hx.HX_DISCOVERY) return Marshal.PtrToStructure(data, typeof(HX_CAMERA_INFORMATION));
            if (hxEvent == Hx.HX_CAPTURE_CHANGE) return Marshal.PtrToStructure(data, typeof(HX_CAPTURE_SETTINGS));
            if (hxEvent == Hx.HX_STATE) return Marshal.PtrToStructure(data, typeof(HX_COMMAND));
            if (hxEvent == Hx.HX_DOWNLOAD_CHANGE) return Marshal.PtrToStructure(data, typeof(HX_DOWNLOAD_SETTINGS));
            if (hxEvent == Hx.HX_IO_CHANGE) return Marshal.PtrToStructure(data, typeof(HX_IO_SETTINGS));
            if (hxEvent == Hx.HX_LENS_CHANGE) return Marshal.PtrToStructure(data, typeof(HX_LENS_STATUS));
            if (hxEvent == Hx.HX_PLAYBACK_CHANGE) return Marshal.PtrToStructure(data, typeof(HX_PLAYBACK_SETTINGS));
            if (hxEvent == Hx.HX_STREAM_CHANGE) return Marshal.PtrToStructure(data, typeof(HX_STREAM_SETTINGS));
            if (hxEvent == Hx.HX_PROGRESS_UPDATE) return Marshal.PtrToStructure(data, typeof(HX_PROGRESS));
            if (hxEvent == Hx.HX_STREAM_NEGOTIATION) return Marshal.ReadInt32(data);
            return null;
        }

        internal static void Check(int status, string what)
        {
            if (status != 0)
                throw new HalvexException(what + " failed (the library's log says why)");
        }
    }

    public sealed class Camera
    {
        public Client Client { get; private set; }
        public UIntPtr Handle { get; private set; }
        public string Address { get { return AddressOf(Handle); } }

        internal Camera(Client client, UIntPtr handle)
        {
            Client = client;
            Handle = handle;
        }

        public static string AddressOf(UIntPtr handle)
        {
            ulong h = handle.ToUInt64();
            return h == 0 ? null : string.Format("{0}.{1}.{2}.{3}", h & 0xFF, (h >> 8) & 0xFF, (h >> 16) & 0xFF, (h >> 24) & 0xFF);
        }

        public static T NewRecord<T>() where T : struct
        {
            object record = new T();
            typeof(T).GetField("ver_maj").SetValue(record, (ushort)Hx.HX_API_VERSION_MAJ);
            typeof(T).GetField("ver_min").SetValue(record, (ushort)Hx.HX_API_VERSION_MIN);
            return (T)record;
        }

        public HX_CAMERA_INFORMATION Information()
        {
            var record = NewRecord<HX_CAMERA_INFORMATION>();
            Client.Check(NativeMethods.CS_HX_get_camera_information_syn(Client.Handle, Handle, ref record), "camera information");
            return record;
        }

        public HX_CAPTURE_SETTINGS ReadCapture()
        {
            var record = NewRecord<HX_CAPTURE_SETTINGS>();
            Client.Check(NativeMethods.CS_HX_setup_capture_syn(Client.Handle, Handle, ref record, ref record), "capture settings");
            return record;
        }

        // Writes the fields marked HX_FLAG_SET (with their sections); the record comes back as the
        // camera holds it. A refused field raises SettingRefusedException with its limits.
        public HX_CAPTURE_SETTINGS SetupCapture(HX_CAPTURE_SETTINGS request)
        {
            request.flags |= Hx.HX_FLAG_SET;
            HX_CAPTURE_SETTINGS record = request;
            Client.Check(NativeMethods.CS_HX_setup_capture_syn(Client.Handle, Handle, ref record, ref record), "capture settings");
            ThrowIfRefused(request, record);
            return record;
        }

        public HX_DOWNLOAD_SETTINGS SetupDownload(HX_DOWNLOAD_SETTINGS request)
        {
            request.flags |= Hx.HX_FLAG_SET;
            HX_DOWNLOAD_SETTINGS record = request;
            Client.Check(NativeMethods.CS_HX_setup_download_syn(Client.Handle, Handle, ref record, ref record), "download settings");
            ThrowIfRefused(request, record);
            return record;
        }

        public HX_DOWNLOAD_SETTINGS ReadDownload()
        {
            var record = NewRecord<HX_DOWNLOAD_SETTINGS>();
            Client.Check(NativeMethods.CS_HX_setup_download_syn(Client.Handle, Handle, ref record, ref record), "download settings");
            return record;
        }

        // The value asked for comes from the request: the record holds what the camera kept.
        void ThrowIfRefused(object request, object record)
        {
            Type type = record.GetType();
            foreach (FieldInfo flags in type.GetFields()) {
                if (!flags.Name.EndsWith("_flags") || flags.Name.EndsWith("_group_flags") || flags.FieldType != typeof(uint))
                    continue;
                if (((uint)flags.GetValue(record) & Hx.HX_FLAG_ERR) == 0)
                    continue;
                string field = flags.Name.Substring(0, flags.Name.Length - "_flags".Length);
                throw new SettingRefusedException(Address, field, Word(type, request, field), Word(type, record, field + "_min"),
                                                  Word(type, record, field + "_max"));
            }
        }

        static uint Word(Type type, object record, string name)
        {
            FieldInfo field = type.GetField(name);
            return field != null && field.FieldType == typeof(uint) ? (uint)field.GetValue(record) : 0;
        }

        public void Subscribe()
        {
            Client.Check(NativeMethods.CS_HX_subscribe(Client.Handle, Handle), "CS_HX_subscribe");
        }

        // Sends an HX_CMD_* code (0: only reads); returns the camera state (HX_CAMERA_STATE_*).
        public uint Command(uint code)
        {
            var record = NewRecord<HX_COMMAND>();
            if (code != 0) {
                record.flags = Hx.HX_FLAG_SET;
                record.code = code;
                record.code_flags = Hx.HX_FLAG_SET;
            }
            Client.Check(NativeMethods.CS_HX_command_syn(Client.Handle, Handle, ref record, ref record), "CS_HX_command_syn");
            if (code != 0 && (record.code_flags & Hx.HX_FLAG_ERR) != 0)
                throw new HalvexException(string.Format("camera {0} refused command 0x{1:X} in state 0x{2:X}", Address, code, record.code));
            return record.code;
        }

        public uint State { get { return Command(0); } }

        // Asks the camera until it is in the state; each look is one exchange with it.
        public void WaitForState(uint state, TimeSpan wait)
        {
            DateTime deadline = DateTime.UtcNow + wait;
            while (State != state) {
                if (DateTime.UtcNow >= deadline)
                    throw new HalvexException(string.Format("camera {0} did not reach state 0x{1:X}", Address, state));
            }
        }

        public void LendDownload(StreamBuffer buffer) { Lend(buffer, NativeMethods.CS_HX_download); }
        public void LendLive(StreamBuffer buffer) { Lend(buffer, NativeMethods.CS_HX_live); }
        public void LendPlayback(StreamBuffer buffer) { Lend(buffer, NativeMethods.CS_HX_play); }

        public void StartDownload()
        {
            Client.Check(NativeMethods.CS_HX_download(Client.Handle, Handle, IntPtr.Zero), "CS_HX_download");
        }

        public void Live(bool on)
        {
            Client.Check(NativeMethods.CS_HX_live_enable(Client.Handle, Handle, on ? 1 : 0), "CS_HX_live_enable");
        }

        void Lend(StreamBuffer buffer, Func<UIntPtr, UIntPtr, IntPtr, int> call)
        {
            buffer.ClearResults();
            Client.Lending(buffer, true);
            if (call(Client.Handle, Handle, buffer.Record) != 0) {
                Client.Lending(buffer, false);
                throw new HalvexException("the library refused an image buffer");
            }
        }
    }

    // An HX_READ_STREAM and its image memory, both unmanaged so they stay put while lent. Dispose
    // it only once the library has given it back (or after Client.Shutdown).
    public sealed class StreamBuffer : IDisposable
    {
        public IntPtr Record { get; private set; }
        public IntPtr Memory { get; private set; }
        public int Size { get; private set; }

        public StreamBuffer(int size)
        {
            Size = size;
            Memory = Marshal.AllocHGlobal(size);
            Record = Marshal.AllocHGlobal(Marshal.SizeOf(typeof(HX_READ_STREAM)));
            Client.Check(NativeMethods.CS_HX_read_stream_init(Record, (uint)Marshal.SizeOf(typeof(HX_READ_STREAM))), "CS_HX_read_stream_init");
            HX_READ_STREAM record = Result;
            record.buffer = Memory;
            record.buffer_size = (ulong)size;
            Marshal.StructureToPtr(record, Record, false);
        }

        // The record as the library left it.
        public HX_READ_STREAM Result { get { return (HX_READ_STREAM)Marshal.PtrToStructure(Record, typeof(HX_READ_STREAM)); } }

        public byte[] ToArray()
        {
            var bytes = new byte[Result.received_length];
            Marshal.Copy(Memory, bytes, 0, bytes.Length);
            return bytes;
        }

        internal void ClearResults()
        {
            HX_READ_STREAM record = Result;
            record.status = record.received_length = record.image_length = record.frame_id = 0;
            Marshal.StructureToPtr(record, Record, false);
        }

        public void Dispose()
        {
            Marshal.FreeHGlobal(Memory);
            Marshal.FreeHGlobal(Record);
            Memory = Record = IntPtr.Zero;
        }
    }
}
