// The library's log lines routed into .NET: an event and a TraceSource named "Halvex".
using System;
using System.Diagnostics;
using System.Runtime.InteropServices;
using System.Threading;
using Halvex.Native;

namespace Halvex
{
    /// <summary>How serious a library log line is.</summary>
    public enum LogLevel : uint
    {
        /// <summary>A line the library writes whatever the trace mask: failures and refusals (HX_LOG_ERROR).</summary>
        Error = Hx.HX_LOG_ERROR,
        /// <summary>A line of a trace category switched on with <see cref="Log.EnableTrace"/> (HX_LOG_TRACE).</summary>
        Trace = Hx.HX_LOG_TRACE,
    }

    /// <summary>One line of the library's log.</summary>
    public sealed class LogEventArgs : EventArgs
    {
        internal LogEventArgs(LogLevel level, string text)
        {
            Level = level;
            Text = text;
        }

        /// <summary>Error or trace.</summary>
        public LogLevel Level { get; }
        /// <summary>The line without its time stamp and source location.</summary>
        public string Text { get; }

        /// <summary>"error: text" or "trace: text".</summary>
        public override string ToString() => (Level == LogLevel.Error ? "error: " : "trace: ") + Text;
    }

    /// <summary>The library's log. By default the library writes its lines to standard output;
    /// once <see cref="LineLogged"/> has a handler (or after <see cref="Capture"/>) every line comes
    /// here instead: to <see cref="LineLogged"/> and to the <see cref="Source"/> trace source (errors as
    /// <see cref="TraceEventType.Error"/>, trace lines as <see cref="TraceEventType.Verbose"/>).
    /// <para><b>Thread:</b> lines arrive on the thread that logged them, a library thread or the
    /// caller's own, possibly several at once. Handlers must not call into the library.</para></summary>
    public static class Log
    {
        static readonly HxLogCallback callback = OnLine;
        static int captured;
        static EventHandler<LogEventArgs> lineLogged;

        /// <summary>The trace source "Halvex" that every captured line also goes to.</summary>
        public static TraceSource Source { get; } = new TraceSource("Halvex", SourceLevels.Warning);

        /// <summary>Raised for every library log line once captured (adding a handler captures).</summary>
        public static event EventHandler<LogEventArgs> LineLogged
        {
            add
            {
                lock (callback)
                    lineLogged += value;
                Capture();
            }
            remove
            {
                lock (callback)
                    lineLogged -= value;
            }
        }

        /// <summary>Routes the library's lines into .NET (<see cref="LineLogged"/> and <see cref="Source"/>)
        /// instead of standard output. A log file opened with the library still gets every line.</summary>
        public static void Capture()
        {
            if (Interlocked.Exchange(ref captured, 1) != 0)
                return;
            NativeLoader.Install();
            if (NativeMethods.CS_HX_logger_callback(callback, IntPtr.Zero) != 0) {
                Interlocked.Exchange(ref captured, 0);
                throw new HalvexException("the library refused the log callback");
            }
        }

        /// <summary>Switches every trace category on (true) or off (false); returns the trace mask.</summary>
        /// <param name="enable">Whether to trace.</param>
        public static TraceCategories EnableTrace(bool enable)
        {
            NativeLoader.Install();
            return (TraceCategories)NativeMethods.CS_HX_trace(enable ? 1 : 0);
        }

        static void OnLine(int level, IntPtr text, IntPtr context)
        {
            try {
                string line = Marshal.PtrToStringAnsi(text) ?? "";
                var severity = level == (int)Hx.HX_LOG_ERROR ? LogLevel.Error : LogLevel.Trace;
                Source.TraceEvent(severity == LogLevel.Error ? TraceEventType.Error : TraceEventType.Verbose, level, line);
                EventHandler<LogEventArgs> handlers;
                lock (callback)
                    handlers = lineLogged;
                handlers?.Invoke(null, new LogEventArgs(severity, line));
            } catch (Exception) {
                // An exception must not unwind into the library's thread; a failing log handler
                // has nowhere better to report to.
            }
        }

        // The library's reason for the failure of the calling thread's last call ("" when none).
        internal static string LastError()
        {
            var text = new byte[1024];
            if (NativeMethods.CS_HX_last_error(text, (uint)text.Length) != 0)
                return "";
            int length = Array.IndexOf(text, (byte)0);
            return System.Text.Encoding.UTF8.GetString(text, 0, length < 0 ? text.Length : length);
        }

        // Throws with the library's reason when a call failed.
        internal static void Check(int status, string what)
        {
            if (status != 0)
                throw new HalvexException(what + " failed", LastError());
        }
    }
}
