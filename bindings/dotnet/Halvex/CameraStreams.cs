// A camera's image streams: live and download frames as iterators and async streams over buffers
// the library fills directly. Buffers are kept per stream kind across runs: a later run adopts
// those still lent (the library keeps them queued), so that what fills them reaches that run.
using System;
using System.Collections.Generic;
using System.Runtime.CompilerServices;
using System.Threading;
using System.Threading.Tasks;
using Halvex.Native;

namespace Halvex
{
    /// <summary>How a stream runs.</summary>
    public sealed class StreamOptions
    {
        /// <summary>Images in flight at a time (default 4 for live, 16 for downloads).</summary>
        public int Buffers { get; set; }
        /// <summary>How long to wait for an image before <see cref="StreamTimeoutException"/> (default 10 s).</summary>
        public TimeSpan Timeout { get; set; } = TimeSpan.FromSeconds(10);
        /// <summary>Frames as views of the library-filled buffers, valid only until the next frame is asked for,
        /// instead of owned copies (the default).</summary>
        public bool ZeroCopy { get; set; }
        /// <summary>The download format (default TIFF).</summary>
        public DownloadFormat Format { get; set; } = DownloadFormat.Tiff;
        /// <summary>Microseconds between a download's stream packets, or null to keep the camera's.</summary>
        public uint? PacketDelay { get; set; }
    }

    public sealed partial class Camera
    {
        internal const int Page = 4096, TiffRoom = 64 * 1024;

        readonly List<StreamBuffer> livePool = new List<StreamBuffer>();
        readonly List<StreamBuffer> downloadPool = new List<StreamBuffer>();
        readonly List<StreamSession> sessions = new List<StreamSession>();

        /// <summary>Live images, one frame per iteration (all of them when <paramref name="frames"/> is null).
        /// Live is switched on for the run and off when the iteration ends.</summary>
        /// <param name="frames">How many frames, or null for all until the iteration is left.</param>
        /// <param name="options">Buffers, time-out, zero copy.</param>
        public IEnumerable<Frame> Live(int? frames = null, StreamOptions options = null)
        {
            using (StreamSession session = new LiveSession(this, frames, options ?? new StreamOptions())) {
                while (!session.Done) {
                    Frame frame = session.Accept(session.Next());
                    if (frame != null)
                        yield return frame;
                }
            }
        }

        /// <summary>As <see cref="Live"/>, as an asynchronous stream.</summary>
        /// <param name="frames">How many frames, or null for all until the iteration is left.</param>
        /// <param name="options">Buffers, time-out, zero copy.</param>
        /// <param name="cancel">Ends the wait for the next frame.</param>
        public async IAsyncEnumerable<Frame> LiveAsync(int? frames = null, StreamOptions options = null,
                                                       [EnumeratorCancellation] CancellationToken cancel = default)
        {
            using (StreamSession session = new LiveSession(this, frames, options ?? new StreamOptions())) {
                while (!session.Done) {
                    Frame frame = session.Accept(await session.NextAsync(cancel).ConfigureAwait(false));
                    if (frame != null)
                        yield return frame;
                }
            }
        }

        /// <summary>Frames <paramref name="first"/> to <paramref name="last"/> of the recording (camera in review), in order.</summary>
        /// <param name="first">The first frame.</param>
        /// <param name="last">The last frame.</param>
        /// <param name="options">Buffers, format, packet delay, time-out, zero copy.</param>
        /// <exception cref="SettingRefusedException">The camera refused the range or format.</exception>
        public IEnumerable<Frame> Download(uint first, uint last, StreamOptions options = null)
        {
            using (StreamSession session = new DownloadSession(this, first, last, options ?? new StreamOptions())) {
                while (!session.Done) {
                    Frame frame = session.Accept(session.Next());
                    if (frame != null)
                        yield return frame;
                }
            }
        }

        /// <summary>As <see cref="Download"/>, as an asynchronous stream.</summary>
        /// <param name="first">The first frame.</param>
        /// <param name="last">The last frame.</param>
        /// <param name="options">Buffers, format, packet delay, time-out, zero copy.</param>
        /// <param name="cancel">Ends the wait for the next frame.</param>
        public async IAsyncEnumerable<Frame> DownloadAsync(uint first, uint last, StreamOptions options = null,
                                                           [EnumeratorCancellation] CancellationToken cancel = default)
        {
            using (StreamSession session = new DownloadSession(this, first, last, options ?? new StreamOptions())) {
                while (!session.Done) {
                    Frame frame = session.Accept(await session.NextAsync(cancel).ConfigureAwait(false));
                    if (frame != null)
                        yield return frame;
                }
            }
        }

        /// <summary>Bytes of one row of <paramref name="width"/> pixels in the camera's layout: 8-bit pixels four to a
        /// 32-bit word, 10-bit three to a word, 12-bit five to a 64-bit word.</summary>
        /// <param name="width">Pixels.</param>
        /// <param name="depth">8, 10 or 12.</param>
        public static int RowBytes(int width, int depth)
        {
            switch (depth) {
            case 8: return (width + 3) / 4 * 4;
            case 10: return (width + 2) / 3 * 4;
            case 12: return (width + 4) / 5 * 8;
            default: throw new ArgumentOutOfRangeException(nameof(depth), depth, "8, 10 or 12");
            }
        }

        internal static int DepthOf(BitMode mode)
        {
            if ((mode & (BitMode.Mode8A | BitMode.Mode8B | BitMode.Mode8C | BitMode.Mode8D | BitMode.Mode8E)) == mode && mode != 0)
                return 8;
            if ((mode & (BitMode.Mode10A | BitMode.Mode10B | BitMode.Mode10C)) == mode && mode != 0)
                return 10;
            return mode == BitMode.Mode12 ? 12 : 0;
        }

        internal List<StreamBuffer> Pool(FrameKind kind) => kind == FrameKind.Live ? livePool : downloadPool;

        internal void Track(StreamSession session, bool add)
        {
            lock (sessions) {
                if (add && IsDisposed)
                    throw new ObjectDisposedException(ToString());
                if (add)
                    sessions.Add(session);
                else
                    sessions.Remove(session);
            }
        }

        void StopStreams()
        {
            StreamSession[] running;
            lock (sessions)
                running = sessions.ToArray();
            foreach (StreamSession session in running)
                session.Abort();
        }
    }
}
