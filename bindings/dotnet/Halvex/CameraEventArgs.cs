// An event of the library, with the record it carried copied out of the library's memory.
using System;

namespace Halvex
{
    /// <summary>An event the library reported: what happened, to which camera, and a copy of the
    /// record it carried (valid after the handler returns).</summary>
    public sealed class CameraEventArgs : EventArgs
    {
        internal CameraEventArgs(EventKind kind, string camera, object record)
        {
            Kind = kind;
            Camera = camera;
            Record = record;
        }

        /// <summary>Which event.</summary>
        public EventKind Kind { get; }
        /// <summary>The camera's dotted address, or null where no camera applies.</summary>
        public string Camera { get; }
        /// <summary>The record the event carried: a <see cref="SettingsRecord"/> subclass, the packet
        /// size (int) of a stream negotiation, the state record's <see cref="CameraState"/>, or null.</summary>
        public object Record { get; }

        /// <summary>The settings of a change event (capture, download, IO, lens, playback, stream), else null.</summary>
        public SettingsRecord Settings => Record as SettingsRecord;
        /// <summary>The camera found, for <see cref="EventKind.Discovery"/>, else null.</summary>
        public CameraInformation Information => Record as CameraInformation;
        /// <summary>The progress, for <see cref="EventKind.ProgressUpdate"/>, else null.</summary>
        public Progress Progress => Record as Progress;
        /// <summary>The new state, for <see cref="EventKind.State"/>, else <see cref="CameraState.Unknown"/>.</summary>
        public CameraState State => Record is CameraState state ? state : CameraState.Unknown;
        /// <summary>The agreed stream packet size in bytes (negative when no size worked), for <see cref="EventKind.StreamNegotiation"/>, else 0.</summary>
        public int PacketSize => Record is int size ? size : 0;

        /// <summary>"CaptureChange 127.0.0.2: CaptureSettings { ... }".</summary>
        public override string ToString() => Kind + (Camera == null ? "" : " " + Camera) + (Record == null ? "" : ": " + Record);
    }
}
