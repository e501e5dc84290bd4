// The managed declarations against hx.h: every structure's size and field offsets equal what the C
// compiler lays out (the hx_layout program's output, HX_LAYOUT_TEXT), every constant has the
// header's value, and the CS_HX_* functions the header declares (HX_HEADER) are exactly those
// declared here, each resolved in the native library.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using Halvex.Native;
using Xunit;

namespace Halvex.Tests
{
    public class LayoutTests
    {
        static readonly Assembly bindings = typeof(Hx).Assembly;
        // The library's assembly these tests run against is the one the run asked for (the net8.0 one,
        // or the netstandard2.0 one that .NET Framework hosts load): a run against the other proves
        // nothing about it.
        [Fact]
        public void TheLibraryAssemblyIsTheOneAskedFor()
        {
            var framework = bindings.GetCustomAttribute<System.Runtime.Versioning.TargetFrameworkAttribute>();
            Assert.Equal(Sim.Env("HX_EXPECT_HALVEX_FRAMEWORK"), framework?.FrameworkName);
        }

        static string[][] Layout() => File.ReadAllLines(Sim.Env("HX_LAYOUT_TEXT")).Select(l => l.Split(' ')).ToArray();

        [Fact]
        public void EveryRecordHasTheCompilersSizeAndOffsets()
        {
            var wrong = new List<string>();
            var records = new HashSet<string>();
            foreach (string[] w in Layout()) {
                Type type = w[0] == "record" || w[0] == "field" ? bindings.GetType("Halvex.Native." + w[1]) : null;
                if (w[0] == "record") {
                    records.Add(w[1]);
                    if (type == null)
                        wrong.Add(w[1] + " is not declared");
                    else if (Marshal.SizeOf(type) != int.Parse(w[2]))
                        wrong.Add($"{w[1]}: {Marshal.SizeOf(type)} bytes, the compiler says {w[2]}");
                } else if (w[0] == "field" && type != null) {
                    if (type.GetField(w[2]) == null)
                        wrong.Add($"{w[1]}.{w[2]} is not declared");
                    else if (Marshal.OffsetOf(type, w[2]).ToInt64() != long.Parse(w[3]))
                        wrong.Add($"{w[1]}.{w[2]} at {Marshal.OffsetOf(type, w[2])}, the compiler says {w[3]}");
                }
            }
            Assert.Empty(wrong);
            Assert.True(records.Count > 10, "the layout text names the header's records");
            var declared = bindings.GetTypes().Where(t => t.Namespace == "Halvex.Native" && t.IsValueType && t.Name.StartsWith("HX_")).Select(t => t.Name);
            Assert.Equal(records.OrderBy(n => n), declared.OrderBy(n => n));
        }

        [Fact]
        public void EveryConstantHasTheHeadersValue()
        {
            var wrong = Layout().Where(w => w[0] == "constant")
                .Where(w => typeof(Hx).GetField(w[1]) is not FieldInfo f || (uint)f.GetValue(null) != ulong.Parse(w[2]))
                .Select(w => w[1] + " = " + w[2]).ToList();
            Assert.Empty(wrong);
        }

        [Fact]
        public void TheHeadersFunctionsAreExactlyThoseDeclaredAndEachResolves()
        {
            var declared = typeof(NativeMethods).GetMethods(BindingFlags.Public | BindingFlags.Static)
                .Where(m => m.Name.StartsWith("CS_HX_")).ToList();
            var header = Regex.Matches(File.ReadAllText(Sim.Env("HX_HEADER")), @"\b(CS_HX_\w+)\s*\(").Select(m => m.Groups[1].Value).ToHashSet();
            Assert.Equal(header.OrderBy(n => n), declared.Select(m => m.Name).OrderBy(n => n));
            foreach (MethodInfo method in declared)
                Marshal.Prelink(method);
            Assert.Equal((int)Hx.HX_API_VERSION_MAJ, NativeMethods.CS_HX_VersionMaj());
            Assert.Equal((int)Hx.HX_API_VERSION_MIN, NativeMethods.CS_HX_VersionMin());
        }

        // The header groups a capture record's words in sections: a setter must mark its own.
        [Fact]
        public void SettingAPropertyMarksItsFieldSectionAndRecordOnly()
        {
            var width = new CaptureSettings { Width = 640 }.Raw;
            Assert.Equal(Hx.HX_FLAG_SET, width.width_flags);
            Assert.Equal(Hx.HX_FLAG_SET, width.sensor_group_flags);
            Assert.Equal(0u, width.record_group_flags | width.exposure_group_flags | width.height_flags);
            Assert.Equal(Hx.HX_FLAG_SET, width.flags);

            var exposure = new CaptureSettings { Exposure = 500 };
            Assert.Equal(new[] { "Exposure" }, exposure.MarkedFields);
            Assert.Equal(Hx.HX_FLAG_SET, exposure.Raw.exposure_group_flags);
            Assert.Equal(0u, exposure.Raw.sensor_group_flags | exposure.Raw.record_group_flags);

            var length = new CaptureSettings { Length = 16 }.Raw;
            Assert.Equal(Hx.HX_FLAG_SET, length.record_group_flags & length.length_flags);

            // A value whose flags word comes before it opens no section.
            var throttle = new DownloadSettings { PauseCount = 3 }.Raw;
            Assert.Equal(Hx.HX_FLAG_SET, throttle.rate_control_flags);
        }

        [Fact]
        public void RecordsPrintTheirValuesAndTexts()
        {
            var capture = new CaptureSettings { BitMode = BitMode.Mode10A, Width = 640 };
            string text = capture.ToString();
            Assert.StartsWith("CaptureSettings {", text);
            Assert.Contains("BitMode = Mode10A", text);
            Assert.Contains("Width = 640", text);
            Assert.DoesNotContain("Halvex.", text);

            var raw = new HX_CAMERA_INFORMATION();
            unsafe {
                byte[] model = System.Text.Encoding.ASCII.GetBytes("model X");
                for (int i = 0; i < model.Length; i++)
                    raw.model_name[i] = model[i];
            }
            var info = new CameraInformation(raw);
            Assert.Equal("model X", info.ModelName);
            Assert.Contains("ModelName = \"model X\"", info.ToString());
        }
    }
}
