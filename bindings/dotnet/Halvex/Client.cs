// A registered library client: its events as .NET events, its cameras, and the one callback the
// library calls for every client of the process.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Threading;
using Halvex.Native;

namespace Halvex
{
    /// <summary>A registered client of the library. Dispose it to unregister (its cameras stop their
    /// streams first); <see cref="Shutdown"/> stops the library for the rest of the process.
    /// <para><b>Events and their thread:</b> every event of this class is raised on the library's single
    /// callback thread, one at a time, never on the thread that made the client. Handlers must return
    /// quickly (hand work to your own threads or tasks), must not wait for the library's other work
    /// and must not call <see cref="Shutdown"/>. An exception a handler throws is logged (<see cref="Log"/>)
    /// and goes no further.</para>
    /// <para>Change events (<see cref="SettingsChanged"/>, <see cref="StateChanged"/>) need
    /// <see cref="Camera.Subscribe"/>. They report every change the camera reports, whoever made it:
    /// this program, another host, or the camera itself (a new bit mode changes the limits of the
    /// region of interest, arming changes the state). <see cref="SettingsRecord.ChangedFields"/> names
    /// the values the library marked as changed.</para></summary>
    public sealed class Client : IDisposable
    {
        // Static, so the delegate outlives every client: the library may call it until shutdown.
        static readonly HxCallback callback = OnEvent;
        static readonly Dictionary<long, Client> clients = new Dictionary<long, Client>();
        static long nextCookie;
        static int finished;

        readonly long cookie;
        readonly Dictionary<ulong, Camera> cameras = new Dictionary<ulong, Camera>();
        int disposed;

        /// <summary>Raised when discovery finds a camera (<see cref="CameraEventArgs.Information"/>).</summary>
        public event EventHandler<CameraEventArgs> Discovered;
        /// <summary>Raised when a camera is lost.</summary>
        public event EventHandler<CameraEventArgs> CameraLost;
        /// <summary>Raised when a subscribed camera reports changed settings (<see cref="CameraEventArgs.Settings"/>:
        /// <see cref="CaptureSettings"/>, <see cref="DownloadSettings"/>, <see cref="IoSettings"/>, <see cref="LensStatus"/>,
        /// <see cref="PlaybackSettings"/> or <see cref="StreamSettings"/>).</summary>
        public event EventHandler<CameraEventArgs> SettingsChanged;
        /// <summary>Raised when a subscribed camera reports its state (<see cref="CameraEventArgs.State"/>).</summary>
        public event EventHandler<CameraEventArgs> StateChanged;
        /// <summary>Raised with the progress of a recording or camera save (<see cref="CameraEventArgs.Progress"/>).</summary>
        public event EventHandler<CameraEventArgs> ProgressReported;
        /// <summary>Raised when the stream packet size was agreed (<see cref="CameraEventArgs.PacketSize"/>).</summary>
        public event EventHandler<CameraEventArgs> StreamNegotiated;
        /// <summary>Raised for every event but image buffers, after the specific event above.</summary>
        public event EventHandler<CameraEventArgs> EventReceived;

        /// <summary>Registers a client; the first one starts the library's discovery.</summary>
        /// <exception cref="HalvexException">The library was shut down, or refused the registration.</exception>
        public Client()
        {
            NativeLoader.Install();
            if (Volatile.Read(ref finished) != 0)
                throw new ObjectDisposedException("Halvex", "the library was shut down in this process");
            lock (clients) {
                cookie = ++nextCookie;
                clients[cookie] = this;
            }
            // The cookie names this object to the callback, which may run before the call returns.
            if (NativeMethods.CS_HX_register(out UIntPtr handle, callback, new IntPtr(cookie)) != 0) {
                string reason = Log.LastError();
                lock (clients)
                    clients.Remove(cookie);
                throw new HalvexException("registering a client failed", reason);
            }
            Handle = handle;
        }

        /// <summary>The client handle, for the <see cref="NativeMethods"/> calls.</summary>
        public UIntPtr Handle { get; }

        /// <summary>Whether <see cref="Shutdown"/> has run in this process.</summary>
        public static bool IsShutDown => Volatile.Read(ref finished) != 0;

        /// <summary>The camera at a dotted address (asked directly) or with a user-defined name discovery has
        /// seen, asked again until it answers or <paramref name="wait"/> has passed (default 5 s). One object per
        /// camera and client.</summary>
        /// <param name="name">"127.0.0.2", or a user-defined name.</param>
        /// <param name="wait">How long to keep asking.</param>
        /// <exception cref="CameraNotSupportedException">A camera of another make (or too old a firmware) answered
        /// at the address.</exception>
        /// <exception cref="HalvexException">No camera answered in time.</exception>
        public Camera OpenCamera(string name, TimeSpan? wait = null)
        {
            ThrowIfDisposed();
            DateTime deadline = DateTime.UtcNow + (wait ?? TimeSpan.FromSeconds(5));
            UIntPtr handle;
            while (NativeMethods.CS_HX_get_handle_by_name(Handle, out handle, name) != 0) {
                string reason = Log.LastError();
                // Asking again does not change who answers there.
                CameraNotSupportedException refused = CameraNotSupportedException.FromReason(reason);
                if (refused != null)
                    throw refused;
                if (DateTime.UtcNow >= deadline)
                    throw new HalvexException("no camera answers as '" + name + "'", reason);
                Thread.Sleep(50);
            }
            lock (cameras) {
                if (!cameras.TryGetValue(handle.ToUInt64(), out Camera camera) || camera.IsDisposed)
                    cameras[handle.ToUInt64()] = camera = new Camera(this, handle);
                return camera;
            }
        }

        /// <summary>Stops the cameras' streams and unregisters. Buffers still lent stay with the library until
        /// <see cref="Shutdown"/>, which frees them.</summary>
        public void Dispose()
        {
            if (Interlocked.Exchange(ref disposed, 1) != 0)
                return;
            Camera[] open;
            lock (cameras)
                open = new List<Camera>(cameras.Values).ToArray();
            foreach (Camera camera in open)
                camera.Dispose();
            bool registered;
            lock (clients)
                registered = clients.Remove(cookie);
            if (registered && !IsShutDown)
                NativeMethods.CS_HX_unregister(Handle);
        }

        /// <summary>Stops every library thread (HX_shutdown) and frees every image buffer. The library cannot
        /// be used again in this process. Never call it from an event handler.</summary>
        public static void Shutdown()
        {
            if (Interlocked.Exchange(ref finished, 1) != 0)
                return;
            NativeLoader.Install();
            Log.Check(NativeMethods.CS_HX_shutdown(), "shutting the library down");
            lock (clients)
                clients.Clear();
            // Once HX_shutdown has returned the library no longer touches lent buffers.
            StreamBuffer.FreeAll();
        }

        internal bool IsDisposed => Volatile.Read(ref disposed) != 0;

        internal void ThrowIfDisposed()
        {
            if (IsDisposed)
                throw new ObjectDisposedException(nameof(Client));
            if (IsShutDown)
                throw new ObjectDisposedException("Halvex", "the library was shut down in this process");
        }

        static void OnEvent(uint hxEvent, UIntPtr clientHandle, UIntPtr camera, IntPtr data, IntPtr cookie)
        {
            try {
                var kind = (EventKind)hxEvent;
                if (kind == EventKind.DownloadData || kind == EventKind.LiveData || kind == EventKind.PlaybackData) {
                    StreamBuffer.Returned(data);
                    return;
                }
                Client client;
                lock (clients)
                    clients.TryGetValue(cookie.ToInt64(), out client);
                client?.Raise(kind, camera, data);
            } catch (Exception error) {
                // An exception must not unwind into the library's thread.
                Log.Source.TraceEvent(System.Diagnostics.TraceEventType.Error, 0, "event handler: " + error);
            }
        }

        void Raise(EventKind kind, UIntPtr camera, IntPtr data)
        {
            var args = new CameraEventArgs(kind, camera == UIntPtr.Zero ? null : Camera.AddressOf(camera), RecordOf(kind, data));
            EventHandler<CameraEventArgs> specific;
            switch (kind) {
            case EventKind.Discovery: specific = Discovered; break;
            case EventKind.End: specific = CameraLost; break;
            case EventKind.State: specific = StateChanged; break;
            case EventKind.ProgressUpdate: specific = ProgressReported; break;
            case EventKind.StreamNegotiation: specific = StreamNegotiated; break;
            default: specific = args.Settings != null ? SettingsChanged : null; break;
            }
            Invoke(specific, args);
            Invoke(EventReceived, args);
        }

        void Invoke(EventHandler<CameraEventArgs> handlers, CameraEventArgs args)
        {
            if (handlers == null)
                return;
            foreach (EventHandler<CameraEventArgs> handler in handlers.GetInvocationList()) {
                try {
                    handler(this, args);
                } catch (Exception error) {
                    Log.Source.TraceEvent(System.Diagnostics.TraceEventType.Error, 0, "event handler for " + args.Kind + ": " + error);
                }
            }
        }

        static object RecordOf(EventKind kind, IntPtr data)
        {
            if (data == IntPtr.Zero)
                return null;
            switch (kind) {
            case EventKind.Discovery: return new CameraInformation(Marshal.PtrToStructure<HX_CAMERA_INFORMATION>(data));
            case EventKind.CaptureChange: return new CaptureSettings(Marshal.PtrToStructure<HX_CAPTURE_SETTINGS>(data));
            case EventKind.State: return (CameraState)Marshal.PtrToStructure<HX_COMMAND>(data).code;
            case EventKind.DownloadChange: return new DownloadSettings(Marshal.PtrToStructure<HX_DOWNLOAD_SETTINGS>(data));
            case EventKind.IoChange: return new IoSettings(Marshal.PtrToStructure<HX_IO_SETTINGS>(data));
            case EventKind.LensChange: return new LensStatus(Marshal.PtrToStructure<HX_LENS_STATUS>(data));
            case EventKind.PlaybackChange: return new PlaybackSettings(Marshal.PtrToStructure<HX_PLAYBACK_SETTINGS>(data));
            case EventKind.StreamChange: return new StreamSettings(Marshal.PtrToStructure<HX_STREAM_SETTINGS>(data));
            case EventKind.ProgressUpdate: return new Progress(Marshal.PtrToStructure<HX_PROGRESS>(data));
            case EventKind.StreamNegotiation: return Marshal.ReadInt32(data);
            default: return null;
            }
        }

        internal void Forget(Camera camera)
        {
            lock (cameras) {
                if (cameras.TryGetValue(camera.Handle.ToUInt64(), out Camera current) && current == camera)
                    cameras.Remove(camera.Handle.ToUInt64());
            }
        }
    }
}
