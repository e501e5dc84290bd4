// The base of the generated settings classes (Records.g.cs): what a record's fields are, which
// flags word marks each, where its limits are, and the text a record prints as.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Text;
using Halvex.Native;

namespace Halvex
{
    /// <summary>A record of hx.h read or written as properties. Subclasses are generated from the
    /// header: <see cref="CaptureSettings"/>, <see cref="DownloadSettings"/>, <see cref="CameraInformation"/>, ...</summary>
    public abstract class SettingsRecord
    {
        internal SettingsRecord() { }

        /// <summary>The record's own flags word (HX_FLAG_SET, HX_FLAG_ERR, HX_FLAG_CHG bits).</summary>
        public abstract uint RecordFlags { get; }

        internal abstract SettingField[] Fields { get; }

        /// <summary>The properties whose flags word the camera marked as refused (HX_FLAG_ERR).</summary>
        public IReadOnlyList<string> RefusedFields => Marked(Hx.HX_FLAG_ERR);

        /// <summary>The properties whose flags word says the library filled or changed them from the camera (HX_FLAG_CHG).</summary>
        public IReadOnlyList<string> ChangedFields => Marked(Hx.HX_FLAG_CHG);

        /// <summary>The properties marked for writing (HX_FLAG_SET), as setting them marks them.</summary>
        public IReadOnlyList<string> MarkedFields => Marked(Hx.HX_FLAG_SET);

        IReadOnlyList<string> Marked(uint bit) =>
            Fields.Where(f => f.Flags != null && (f.Flags(this) & bit) != 0).Select(f => f.Name).ToArray();

        /// <summary>The record's name and every value, as "CaptureSettings { BitMode = Mode8A, Width = 2560, ... }".</summary>
        public override string ToString()
        {
            var text = new StringBuilder(GetType().Name).Append(" {");
            bool first = true;
            foreach (SettingField field in Fields) {
                text.Append(first ? " " : ", ").Append(field.Name).Append(" = ");
                object value = field.Display(this);
                if (value is string s)
                    text.Append('"').Append(s).Append('"');
                else
                    text.Append(value);
                first = false;
            }
            return text.Append(" }").ToString();
        }

        internal SettingField Field(string name) => Fields.FirstOrDefault(f => f.Name == name);

        internal static unsafe string Text(byte* text, int room)
        {
            int length = 0;
            while (length < room && text[length] != 0)
                length++;
            return Encoding.UTF8.GetString(text, length);
        }
    }

    // One value of a record: its property, its C name, and the words beside it (null where the
    // record has none).
    internal sealed class SettingField
    {
        public readonly string Name;
        public readonly string CName;
        public readonly Func<SettingsRecord, object> Display;
        public readonly Func<SettingsRecord, uint> Flags, Word, Max, Min, Step, Choices;

        public SettingField(string name, string cName, Func<SettingsRecord, object> display,
                            Func<SettingsRecord, uint> flags = null, Func<SettingsRecord, uint> word = null,
                            Func<SettingsRecord, uint> max = null, Func<SettingsRecord, uint> min = null,
                            Func<SettingsRecord, uint> constr = null, Func<SettingsRecord, uint> caps = null)
        {
            Name = name;
            CName = cName;
            Display = display;
            Flags = flags;
            Word = word;
            Max = max;
            Min = min;
            Step = constr;
            Choices = caps;
        }
    }
}
