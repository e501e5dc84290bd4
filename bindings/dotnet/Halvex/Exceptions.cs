// The exceptions the library raises: a failed call with the library's own reason, a refused
// value with the camera's limits, a refused command, a camera the library does not serve, an
// image that did not come.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Text.RegularExpressions;

namespace Halvex
{
    /// <summary>A call the library refused or could not carry out.</summary>
    public class HalvexException : Exception
    {
        /// <summary>A failure with the library's reason.</summary>
        /// <param name="message">What failed.</param>
        /// <param name="reason">The library's first error line of the call, or an empty text.</param>
        public HalvexException(string message, string reason = "")
            : base(string.IsNullOrEmpty(reason) ? message : message + ": " + reason)
        {
            Reason = reason ?? "";
        }

        /// <summary>A failure whose message already says what the library's reason says.</summary>
        /// <param name="message">What failed, in full.</param>
        /// <param name="reason">The library's first error line of the call, kept in <see cref="Reason"/> only.</param>
        /// <param name="reasonInMessage">Marks this constructor; the reason is not appended to the message.</param>
        protected HalvexException(string message, string reason, bool reasonInMessage) : base(message)
        {
            _ = reasonInMessage;
            Reason = reason ?? "";
        }

        /// <summary>The first error line the library logged during the failed call ("" when it logged none).</summary>
        public string Reason { get; }
    }

    /// <summary>The camera or the library refused a value. Carries the field, the value asked for
    /// and the camera's limits as the record gives them (null where the field has none).</summary>
    public class SettingRefusedException : HalvexException
    {
        /// <summary>A refusal.</summary>
        /// <param name="camera">The camera's address.</param>
        /// <param name="field">The property refused (first of several).</param>
        /// <param name="value">The value asked for.</param>
        /// <param name="minimum">The camera's lower limit, or null.</param>
        /// <param name="maximum">The camera's upper limit, or null.</param>
        /// <param name="step">The step the value must respect, or null.</param>
        /// <param name="choices">The supported values as a bit set, or null.</param>
        /// <param name="reason">The library's reason.</param>
        /// <param name="others">Further properties refused in the same call.</param>
        public SettingRefusedException(string camera, string field, uint value, uint? minimum, uint? maximum, uint? step,
                                       uint? choices, string reason, IEnumerable<string> others = null)
            : base(Describe(camera, field, value, minimum, maximum, step, choices, others), reason)
        {
            Camera = camera;
            Field = field;
            Value = value;
            Minimum = minimum;
            Maximum = maximum;
            Step = step;
            Choices = choices;
            OtherFields = (others ?? Enumerable.Empty<string>()).ToArray();
        }

        /// <summary>The camera's address.</summary>
        public string Camera { get; }
        /// <summary>The property refused, as the settings class names it ("Exposure").</summary>
        public string Field { get; }
        /// <summary>The value asked for.</summary>
        public uint Value { get; }
        /// <summary>The camera's lower limit for the field, or null.</summary>
        public uint? Minimum { get; }
        /// <summary>The camera's upper limit for the field, or null.</summary>
        public uint? Maximum { get; }
        /// <summary>The step (granularity) the value must respect, or null.</summary>
        public uint? Step { get; }
        /// <summary>The supported values as a bit set, for fields chosen from a set, or null.</summary>
        public uint? Choices { get; }
        /// <summary>Further properties the camera refused in the same call.</summary>
        public IReadOnlyList<string> OtherFields { get; }

        static string Describe(string camera, string field, uint value, uint? minimum, uint? maximum, uint? step,
                               uint? choices, IEnumerable<string> others)
        {
            var limits = new List<string>();
            if (minimum.HasValue || maximum.HasValue)
                limits.Add(minimum + ".." + maximum);
            if (step.HasValue && step.Value > 1)
                limits.Add("step " + step);
            if (choices.HasValue)
                limits.Add("choices 0x" + choices.Value.ToString("X"));
            string text = "camera " + camera + " refused " + field + "=" + value;
            if (limits.Count > 0)
                text += " (" + string.Join(", ", limits) + ")";
            string[] more = (others ?? Enumerable.Empty<string>()).ToArray();
            if (more.Length > 0)
                text += "; also refused: " + string.Join(", ", more);
            return text;
        }
    }

    /// <summary>The camera refused a command in its current state.</summary>
    public class CommandRefusedException : HalvexException
    {
        /// <summary>A refused command.</summary>
        /// <param name="camera">The camera's address.</param>
        /// <param name="command">The command sent.</param>
        /// <param name="state">The state the camera reported.</param>
        /// <param name="allowed">The commands the camera allows in that state.</param>
        /// <param name="reason">The library's reason.</param>
        public CommandRefusedException(string camera, CameraCommand command, CameraState state, CameraCommand allowed, string reason)
            : base("camera " + camera + " refused " + command + " in state " + state + " (allowed: " + allowed + ")", reason)
        {
            Command = command;
            State = state;
            Allowed = allowed;
        }

        /// <summary>The command sent.</summary>
        public CameraCommand Command { get; }
        /// <summary>The state the camera reported.</summary>
        public CameraState State { get; }
        /// <summary>The commands the camera allows in that state.</summary>
        public CameraCommand Allowed { get; }
    }

    /// <summary>A camera answered at the address asked for, but it is not one the library serves (another
    /// maker's camera, or firmware too old). Waiting does not help: it is raised at once.</summary>
    public class CameraNotSupportedException : HalvexException
    {
        // The library's account of a lookup that found a camera it does not serve.
        static readonly Regex refusal =
            new Regex("a camera answered at (\\S+): maker \"(.*)\", model \"(.*)\"; not supported(?: \\((.*)\\))?");

        /// <summary>A camera that answered and was refused.</summary>
        /// <param name="address">Where it answered.</param>
        /// <param name="maker">The maker it reported.</param>
        /// <param name="model">The model it reported.</param>
        /// <param name="why">Why the library does not serve it ("made by another maker", ...), or an empty text.</param>
        /// <param name="reason">The library's reason.</param>
        public CameraNotSupportedException(string address, string maker, string model, string why, string reason = "")
            : base("a camera answered at " + address + ": maker \"" + maker + "\", model \"" + model + "\"; not supported" +
                       (string.IsNullOrEmpty(why) ? "" : " (" + why + ")"),
                   reason, true)
        {
            Address = address;
            Maker = maker;
            Model = model;
            Why = why ?? "";
        }

        /// <summary>The address the camera answered at.</summary>
        public string Address { get; }
        /// <summary>The maker the camera reported.</summary>
        public string Maker { get; }
        /// <summary>The model the camera reported.</summary>
        public string Model { get; }
        /// <summary>Why the library does not serve it.</summary>
        public string Why { get; }

        // The exception the library's reason describes, or null when no camera was refused.
        internal static CameraNotSupportedException FromReason(string reason)
        {
            Match found = refusal.Match(reason ?? "");
            if (!found.Success)
                return null;
            return new CameraNotSupportedException(found.Groups[1].Value, found.Groups[2].Value, found.Groups[3].Value,
                                                   found.Groups[4].Value, reason);
        }
    }

    /// <summary>No image came back within the time allowed.</summary>
    public class StreamTimeoutException : HalvexException
    {
        /// <summary>A stream that went quiet.</summary>
        /// <param name="message">Which stream and how long.</param>
        public StreamTimeoutException(string message) : base(message) { }
    }
}
