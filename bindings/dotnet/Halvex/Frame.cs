// An image the library handed back: the bytes received, as an owned copy or (on request) a view
// of the library-filled buffer, with what the library wrote about it.
using System;
using System.Buffers;
using Halvex.Native;

namespace Halvex
{
    /// <summary>Which stream an image came from.</summary>
    public enum FrameKind
    {
        /// <summary>Live images.</summary>
        Live,
        /// <summary>In-camera playback of a recording.</summary>
        Playback,
        /// <summary>Downloaded frames of a recording.</summary>
        Download,
    }

    /// <summary>An image of a stream. By default <see cref="Data"/> is the frame's own copy of the bytes,
    /// valid for as long as you keep it. With <see cref="StreamOptions.ZeroCopy"/> it is a view of the buffer
    /// the library filled, valid only until the stream is asked for its next frame (the buffer is then
    /// lent again); <see cref="Copy"/> keeps such a frame.</summary>
    public sealed class Frame
    {
        readonly ReadOnlyMemory<byte> data;
        readonly StreamBuffer view;
        readonly int generation;

        internal Frame(FrameKind kind, HX_READ_STREAM result, ReadOnlyMemory<byte> data, StreamBuffer view, int generation,
                       int width, int height, int depth)
        {
            Kind = kind;
            FrameId = result.frame_id;
            Status = (StreamStatus)result.status;
            ReceivedLength = (int)result.received_length;
            ImageLength = (int)result.image_length;
            Width = width;
            Height = height;
            BitDepth = depth;
            this.data = data;
            this.view = view;
            this.generation = generation;
        }

        /// <summary>Live, playback or download.</summary>
        public FrameKind Kind { get; }
        /// <summary>The image's sequence number on the wire.</summary>
        public uint FrameId { get; }
        /// <summary>What the library wrote about the buffer.</summary>
        public StreamStatus Status { get; }
        /// <summary>Image bytes received.</summary>
        public int ReceivedLength { get; }
        /// <summary>The payload size the image announced.</summary>
        public int ImageLength { get; }
        /// <summary>Region of interest width in pixels when the stream started.</summary>
        public int Width { get; }
        /// <summary>Region of interest height in pixels.</summary>
        public int Height { get; }
        /// <summary>Pixel depth in bits: 8, 10 or 12.</summary>
        public int BitDepth { get; }
        /// <summary>Whether <see cref="Data"/> is a view of the library's buffer rather than an owned copy.</summary>
        public bool IsView => view != null;

        /// <summary>Whether the whole image arrived: end received, no error, all announced bytes there.</summary>
        public bool IsComplete => (Status & StreamStatus.Complete) != 0 && (Status & StreamStatus.Error) == 0 &&
                                  ReceivedLength == ImageLength && ImageLength != 0;
        /// <summary>Whether this image ends the stream (the last frame of a download).</summary>
        public bool IsLast => (Status & StreamStatus.Last) != 0;
        /// <summary>Whether the bytes are a TIFF file (downloads), rather than the camera's frame layout.</summary>
        public bool IsTiff => Tiff.IsTiff(Span);

        /// <summary>The received bytes.</summary>
        /// <exception cref="ObjectDisposedException">A view whose buffer was lent again.</exception>
        public ReadOnlyMemory<byte> Data
        {
            get
            {
                if (view != null && (view.Generation != generation || view.Memory == IntPtr.Zero))
                    throw new ObjectDisposedException(nameof(Frame), "the frame's buffer was lent again; Copy() keeps a frame");
                return data;
            }
        }

        /// <summary>The received bytes as a span.</summary>
        public ReadOnlySpan<byte> Span => Data.Span;

        /// <summary>The pixels: for a TIFF download its strip (8-bit samples, or 16-bit little-endian ones for
        /// 10- and 12-bit modes), otherwise the frame as the camera lays it out (rows of
        /// <see cref="RowStride"/> bytes; for 8-bit modes one byte per pixel).</summary>
        public ReadOnlyMemory<byte> Pixels => IsTiff ? Data.Slice(Tiff.StripOffset(Span), Tiff.StripLength(Span)) : Data;

        /// <summary>Bytes from one row of <see cref="Pixels"/> to the next.</summary>
        public int RowStride => IsTiff ? Width * (BitDepth == 8 ? 1 : 2) : Camera.RowBytes(Width, BitDepth);

        /// <summary>An owned copy of this frame, valid for as long as it is kept.</summary>
        public Frame Copy()
        {
            byte[] bytes = Data.ToArray();
            var result = new HX_READ_STREAM {
                frame_id = FrameId, status = (uint)Status, received_length = (uint)ReceivedLength, image_length = (uint)ImageLength,
            };
            return new Frame(Kind, result, bytes, null, 0, Width, Height, BitDepth);
        }

        /// <summary>The received bytes as a new array.</summary>
        public byte[] ToArray() => Data.ToArray();

        /// <summary>"Download frame 5: 16640 bytes, Leader, Complete".</summary>
        public override string ToString() => Kind + " frame " + FrameId + ": " + ReceivedLength + " bytes, " + Status;
    }

    // Memory<byte> over a buffer the library filled, for zero-copy frames.
    internal sealed unsafe class UnmanagedMemory : MemoryManager<byte>
    {
        readonly IntPtr start;
        readonly int length;

        internal UnmanagedMemory(IntPtr start, int length)
        {
            this.start = start;
            this.length = length;
        }

        public override Span<byte> GetSpan() => new Span<byte>((void*)start, length);
        public override MemoryHandle Pin(int elementIndex = 0) => new MemoryHandle((byte*)start + elementIndex);
        public override void Unpin() { }
        protected override void Dispose(bool disposing) { }
    }
}
