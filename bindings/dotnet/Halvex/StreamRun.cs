// The buffers one run of a stream takes back from the library, handed from the callback thread to
// the thread (or task) iterating the run.
using System;
using System.Collections.Concurrent;
using System.Threading;
using System.Threading.Tasks;

namespace Halvex
{
    internal sealed class StreamRun : IDisposable
    {
        readonly ConcurrentQueue<StreamBuffer> returned = new ConcurrentQueue<StreamBuffer>();
        readonly SemaphoreSlim ready = new SemaphoreSlim(0);
        readonly string what;
        volatile bool closed;

        internal StreamRun(string what)
        {
            this.what = what;
        }

        internal bool IsClosed => closed;

        // On the callback thread.
        internal void Deliver(StreamBuffer buffer)
        {
            returned.Enqueue(buffer);
            ready.Release();
        }

        internal StreamBuffer Next(TimeSpan timeout, CancellationToken cancel)
        {
            if (!ready.Wait(timeout, cancel))
                throw Quiet(timeout);
            return Take();
        }

        internal async Task<StreamBuffer> NextAsync(TimeSpan timeout, CancellationToken cancel)
        {
            if (!await ready.WaitAsync(timeout, cancel).ConfigureAwait(false))
                throw Quiet(timeout);
            return Take();
        }

        // Takes what already came back, without waiting.
        internal bool TryTake(out StreamBuffer buffer)
        {
            buffer = null;
            return !closed && ready.Wait(0) && returned.TryDequeue(out buffer);
        }

        StreamBuffer Take()
        {
            if (closed)
                throw new ObjectDisposedException(nameof(Camera), "the camera was disposed while its " + what + " stream ran");
            returned.TryDequeue(out StreamBuffer buffer);
            return buffer;
        }

        Exception Quiet(TimeSpan timeout) =>
            closed ? new ObjectDisposedException(nameof(Camera), "the camera was disposed while its " + what + " stream ran")
                   : (Exception)new StreamTimeoutException("no " + what + " image within " + timeout.TotalSeconds + " s");

        // Wakes the iterating thread, which then ends with ObjectDisposedException.
        public void Dispose()
        {
            closed = true;
            ready.Release();
        }
    }
}
