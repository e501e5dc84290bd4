// An image buffer the library fills directly: an HX_READ_STREAM and its image memory, both
// unmanaged so that they stay put while lent, and the registry that finds a returned record's
// buffer on the callback thread.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using Halvex.Native;

namespace Halvex
{
    internal sealed class StreamBuffer
    {
        // Every buffer ever made, by record address: lent ones are found when they come back, and
        // all are freed at shutdown (a lent buffer may be written until then).
        static readonly Dictionary<IntPtr, StreamBuffer> all = new Dictionary<IntPtr, StreamBuffer>();
        static readonly int RecordSize = Marshal.SizeOf<HX_READ_STREAM>();

        internal StreamBuffer(int size)
        {
            Size = size;
            Memory = Marshal.AllocHGlobal(size);
            Record = Marshal.AllocHGlobal(RecordSize);
            Log.Check(NativeMethods.CS_HX_read_stream_init(Record, (uint)RecordSize), "preparing an image record");
            HX_READ_STREAM record = Result;
            record.buffer = Memory;
            record.buffer_size = (ulong)size;
            Marshal.StructureToPtr(record, Record, false);
            lock (all)
                all[Record] = this;
        }

        internal IntPtr Record { get; private set; }
        internal IntPtr Memory { get; private set; }
        internal int Size { get; }
        internal bool Lent { get; private set; }
        // Counts the lendings, so that a zero-copy frame knows when its bytes were lent again.
        internal int Generation { get; private set; }
        // The run that takes this buffer when it comes back (null: it waits in its pool).
        internal StreamRun Sink { get; set; }

        internal HX_READ_STREAM Result => Marshal.PtrToStructure<HX_READ_STREAM>(Record);

        // Hands the buffer to the library with HX_live, HX_play or HX_download.
        internal void Lend(Func<UIntPtr, UIntPtr, IntPtr, int> call, UIntPtr client, UIntPtr camera)
        {
            HX_READ_STREAM record = Result;
            record.status = record.received_length = record.image_length = record.frame_id = 0;
            Marshal.StructureToPtr(record, Record, false);
            lock (all) {
                if (Record == IntPtr.Zero)
                    throw new ObjectDisposedException("Halvex", "the library was shut down in this process");
                Lent = true;
                Generation++;
            }
            if (call(client, camera, Record) != 0) {
                string reason = Log.LastError();
                lock (all)
                    Lent = false;
                throw new HalvexException("the library refused an image buffer", reason);
            }
        }

        // On the callback thread: a record came back (null when a stream was cancelled).
        internal static void Returned(IntPtr record)
        {
            StreamBuffer buffer;
            lock (all) {
                if (record == IntPtr.Zero || !all.TryGetValue(record, out buffer))
                    return;
                buffer.Lent = false;
            }
            buffer.Sink?.Deliver(buffer);
        }

        internal static void FreeAll()
        {
            lock (all) {
                foreach (StreamBuffer buffer in all.Values) {
                    Marshal.FreeHGlobal(buffer.Memory);
                    Marshal.FreeHGlobal(buffer.Record);
                    buffer.Memory = buffer.Record = IntPtr.Zero;
                    buffer.Lent = false;
                }
                all.Clear();
            }
        }

        // A buffer that never was lent, or came back, may go at once.
        internal void FreeIfIdle()
        {
            lock (all) {
                if (Lent || Record == IntPtr.Zero)
                    return;
                all.Remove(Record);
                Marshal.FreeHGlobal(Memory);
                Marshal.FreeHGlobal(Record);
                Memory = Record = IntPtr.Zero;
            }
        }
    }
}
