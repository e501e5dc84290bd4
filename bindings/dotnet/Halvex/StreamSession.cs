// One run of a stream: which buffers it lent, how it turns a returned buffer into a frame, and how
// it starts and stops the camera's stream. Live and download differ in starting, stopping and in
// which buffers to lend again.
using System;
using System.Collections.Generic;
using System.Threading;
using System.Threading.Tasks;
using Halvex.Native;

namespace Halvex
{
    internal abstract class StreamSession : IDisposable
    {
        protected readonly Camera camera;
        readonly FrameKind kind;
        readonly Func<UIntPtr, UIntPtr, IntPtr, int> lend;
        StreamBuffer pending;
        int finished;

        protected StreamSession(Camera camera, FrameKind kind, Func<UIntPtr, UIntPtr, IntPtr, int> lend, StreamOptions options)
        {
            this.camera = camera;
            this.kind = kind;
            this.lend = lend;
            Options = options;
            Run = new StreamRun(kind.ToString().ToLowerInvariant());
            CaptureSettings capture = camera.ReadCapture();
            Width = (int)capture.Width;
            Height = (int)capture.Height;
            Depth = Camera.DepthOf(capture.BitMode);
            if (Depth == 0)
                throw new HalvexException("camera " + camera.Address + " reports the bit mode " + capture.BitMode + ", which has no known depth");
            int frame = Camera.RowBytes(Width, Depth) * Height;
            int tiff = Width * Height * (Depth == 8 ? 1 : 2) + Camera.TiffRoom;
            BufferSize = Math.Max((int)Hx.HX_STREAM_MIN_BUFFER_SIZE, (Math.Max(frame, tiff) + Camera.Page - 1) / Camera.Page * Camera.Page);
            camera.Track(this, true);
        }

        internal StreamOptions Options { get; }
        internal StreamRun Run { get; }
        internal bool Done { get; set; }
        protected int Width { get; }
        protected int Height { get; }
        protected int Depth { get; }
        protected int BufferSize { get; }
        protected List<StreamBuffer> Pool => camera.Pool(kind);

        // Buffers of the pool still lent join this run; returned ones are lent again; new ones make up the count.
        protected void LendPool(int count)
        {
            lock (Pool) {
                foreach (StreamBuffer buffer in Pool)
                    buffer.Sink = Run;
                foreach (StreamBuffer buffer in Pool)
                    if (!buffer.Lent && buffer.Size >= BufferSize)
                        Lend(buffer);
                while (Pool.FindAll(b => b.Size >= BufferSize).Count < count) {
                    var buffer = new StreamBuffer(BufferSize) { Sink = Run };
                    Pool.Add(buffer);
                    Lend(buffer);
                }
            }
        }

        protected void Lend(StreamBuffer buffer)
        {
            try {
                buffer.Lend(lend, camera.Client.Handle, camera.Handle);
            } catch (HalvexException) when (camera.IsDisposed || camera.Client.IsDisposed || Client.IsShutDown) {
                // Disposal on another thread unregistered the client between the look and the lending.
                throw new ObjectDisposedException(camera.ToString(), "the camera was disposed while its stream ran");
            }
        }

        protected bool AnyLent()
        {
            lock (Pool)
                return Pool.Exists(b => b.Lent);
        }

        // The next returned buffer. The view handed out last is lent again first: its frame is over.
        internal StreamBuffer Next()
        {
            LendPending();
            return Run.Next(Options.Timeout, CancellationToken.None);
        }

        internal Task<StreamBuffer> NextAsync(CancellationToken cancel)
        {
            LendPending();
            return Run.NextAsync(Options.Timeout, cancel);
        }

        void LendPending()
        {
            StreamBuffer buffer = pending;
            pending = null;
            if (buffer != null)
                Lend(buffer);
        }

        // A returned buffer as a frame, or null for one to pass over. An owned copy's buffer is lent
        // again at once, a view's before the next wait.
        internal Frame Accept(StreamBuffer buffer)
        {
            if (buffer == null)
                return null;
            HX_READ_STREAM result = buffer.Result;
            Frame frame = Judge(buffer, result, out bool again);
            if (frame == null) {
                if (again)
                    Lend(buffer);
                return null;
            }
            if (Options.ZeroCopy) {
                var memory = new UnmanagedMemory(buffer.Memory, (int)result.received_length).Memory;
                frame = new Frame(kind, result, memory, buffer, buffer.Generation, Width, Height, Depth);
                if (again)
                    pending = buffer;
            } else {
                var bytes = new byte[result.received_length];
                System.Runtime.InteropServices.Marshal.Copy(buffer.Memory, bytes, 0, bytes.Length);
                frame = new Frame(kind, result, bytes, null, 0, Width, Height, Depth);
                if (again)
                    Lend(buffer);
            }
            return frame;
        }

        protected Frame Judge(StreamBuffer buffer, HX_READ_STREAM result, out bool again)
        {
            again = false;
            if (buffer.Size < BufferSize)
                return null; // lent for a smaller image before the geometry changed
            return Examine(result, out again);
        }

        // What the run makes of a returned record: a frame to deliver (a placeholder is enough), or null.
        protected abstract Frame Examine(HX_READ_STREAM result, out bool again);

        protected static Frame Placeholder(HX_READ_STREAM result) => new Frame(FrameKind.Live, result, default, null, 0, 0, 0, 8);

        // Stops the camera's stream; the buffers still lent stay queued for the next run.
        protected abstract void Stop();

        // From Camera.Dispose, on any thread: wakes the iterating thread and stops the stream.
        internal void Abort()
        {
            Run.Dispose();
            Finish();
        }

        void Finish()
        {
            if (Interlocked.Exchange(ref finished, 1) != 0)
                return;
            try {
                if (!Client.IsShutDown && !camera.Client.IsDisposed)
                    Stop();
            } catch (HalvexException error) {
                Log.Source.TraceEvent(System.Diagnostics.TraceEventType.Warning, 0, "stopping a stream: " + error.Message);
            } finally {
                lock (Pool)
                    foreach (StreamBuffer buffer in Pool)
                        if (buffer.Sink == Run)
                            buffer.Sink = null;
                camera.Track(this, false);
            }
        }

        public void Dispose() => Finish();
    }

    internal sealed class LiveSession : StreamSession
    {
        readonly int? wanted;
        int delivered;

        internal LiveSession(Camera camera, int? frames, StreamOptions options)
            : base(camera, FrameKind.Live, NativeMethods.CS_HX_live, options)
        {
            wanted = frames;
            try {
                LendPool(options.Buffers > 0 ? options.Buffers : 4);
                Log.Check(NativeMethods.CS_HX_live_enable(camera.Client.Handle, camera.Handle, 1), "live on camera " + camera.Address);
            } catch {
                Dispose();
                throw;
            }
        }

        protected override Frame Examine(HX_READ_STREAM result, out bool again)
        {
            again = true;
            if ((result.status & Hx.HX_STREAM_STATUS_LAST) != 0 && result.received_length == 0)
                return null; // handed back unfilled
            delivered++;
            Done = wanted.HasValue && delivered >= wanted.Value;
            again = !Done; // the last frame of the run stays valid
            return Placeholder(result);
        }

        protected override void Stop()
        {
            NativeMethods.CS_HX_live_enable(camera.Client.Handle, camera.Handle, 0);
            camera.Barrier();
        }
    }

    internal sealed class DownloadSession : StreamSession
    {
        readonly int budget;
        int lent;
        bool started;

        internal DownloadSession(Camera camera, uint first, uint last, StreamOptions options)
            : base(camera, FrameKind.Download, NativeMethods.CS_HX_download, options)
        {
            int count = Math.Max(4, options.Buffers > 0 ? options.Buffers : 16);
            // Small frames come in quick succession: keep room for several already on their way
            // when the camera is asked to pause.
            int pause = Math.Max(2, count / 2);
            try {
                if (last < first)
                    throw new ArgumentException("the last frame comes before the first", nameof(last));
                // A range the camera would refuse is refused before any buffer is lent: buffers
                // stay queued in the library for the camera's next download, whichever client
                // makes it.
                DownloadSettings held = camera.ReadDownload();
                if (first > held.StartMaximum || last > held.StopMaximum) {
                    bool start = first > held.StartMaximum;
                    throw new SettingRefusedException(camera.Address, start ? "Start" : "Stop", start ? first : last, null,
                                                      start ? held.StartMaximum : held.StopMaximum, null, null, "");
                }
                // Lent before the settings apply, the buffers only queue; CS_HX_download(NULL) starts.
                LendPool(count);
                lent = count;
                var request = new DownloadSettings { Start = first, Stop = last, Format = options.Format, PauseCount = (uint)pause,
                                                     ResumeCount = (uint)Math.Max(pause + 1, count * 3 / 4) };
                if (options.PacketDelay.HasValue)
                    request.TurboDelay = options.PacketDelay.Value;
                camera.Apply(request);
                Log.Check(NativeMethods.CS_HX_download(camera.Client.Handle, camera.Handle, IntPtr.Zero), "starting a download from camera " + camera.Address);
                started = true;
            } catch {
                Dispose();
                throw;
            }
            // The camera pauses while no more than `pause` buffers are lent and only lending resumes
            // it, so buffers are lent until the last frame has that many spares behind it; the
            // spares come back unfilled when the download ends.
            budget = (int)(last - first + 1) + pause + 1;
        }

        protected override Frame Examine(HX_READ_STREAM result, out bool again)
        {
            again = false;
            // An image whose first packets were lost comes back empty too, but with the size its
            // leader announced: that one is an incomplete frame, not a refusal.
            if (result.received_length == 0 && result.image_length == 0) {
                if ((result.status & Hx.HX_STREAM_STATUS_ERROR) != 0 && (result.status & Hx.HX_STREAM_STATUS_LAST) == 0)
                    throw new HalvexException("camera " + camera.Address + " did not start the download (the library's log says why)");
                return null; // a spare handed back unfilled when an earlier download ended
            }
            Done = (result.status & Hx.HX_STREAM_STATUS_LAST) != 0;
            if (!Done && lent < budget) {
                again = true;
                lent++;
            }
            return Placeholder(result);
        }

        protected override void Stop()
        {
            // The spares come back once the library has ended the download; a download started
            // before that could lose the buffers lent for it to that ending.
            DateTime deadline = DateTime.UtcNow + TimeSpan.FromSeconds(Math.Min(Options.Timeout.TotalSeconds, 3));
            while (started && AnyLent() && !Run.IsClosed && DateTime.UtcNow < deadline) {
                try {
                    Run.Next(deadline - DateTime.UtcNow, CancellationToken.None);
                } catch (StreamTimeoutException) {
                    break;
                }
            }
        }
    }
}
