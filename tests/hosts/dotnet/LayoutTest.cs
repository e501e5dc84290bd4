// The managed declarations against hx.h: every structure's Marshal.SizeOf and field offsets equal
// what the C compiler lays out (the hx_layout program's output), every constant has the header's
// value, and every CS_HX_* function the header declares has a declaration the library resolves.
//   mono LayoutTest.exe HX_LAYOUT.txt hx.h
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using Halvex.Native;

static class LayoutTest
{
    static int failures;
    static int checks;

    static void Expect(bool condition, string what)
    {
        checks++;
        if (condition)
            return;
        Console.WriteLine("dotnet_layout: FAILED: " + what);
        failures++;
    }

    static int Main(string[] args)
    {
        Assembly bindings = typeof(Hx).Assembly;
        var records = new HashSet<string>();
        foreach (string line in File.ReadAllLines(args[0])) {
            string[] w = line.Split(' ');
            if (w[0] == "record") {
                Type type = bindings.GetType("Halvex.Native." + w[1]);
                Expect(type != null, w[1] + " is declared");
                if (type != null)
                    Expect(Marshal.SizeOf(type) == int.Parse(w[2]), string.Format("{0}: {1} bytes, the header says {2}", w[1], Marshal.SizeOf(type), w[2]));
                records.Add(w[1]);
            } else if (w[0] == "field") {
                Type type = bindings.GetType("Halvex.Native." + w[1]);
                if (type == null)
                    continue;
                FieldInfo field = type.GetField(w[2]);
                Expect(field != null, w[1] + "." + w[2] + " is declared");
                if (field != null)
                    Expect(Marshal.OffsetOf(type, w[2]).ToInt64() == long.Parse(w[3]),
                           string.Format("{0}.{1} at {2}, the header says {3}", w[1], w[2], Marshal.OffsetOf(type, w[2]), w[3]));
            } else if (w[0] == "constant") {
                FieldInfo constant = typeof(Hx).GetField(w[1]);
                Expect(constant != null && (uint)constant.GetValue(null) == ulong.Parse(w[2]), w[1] + " = " + w[2]);
            }
        }
        int structures = bindings.GetTypes().Count(t => t.Namespace == "Halvex.Native" && t.IsValueType && t.Name.StartsWith("HX_"));
        Expect(structures == records.Count, string.Format("{0} structures declared for {1} records", structures, records.Count));

        var declared = new HashSet<string>(typeof(NativeMethods).GetMethods(BindingFlags.Public | BindingFlags.Static)
                                           .Where(m => m.Name.StartsWith("CS_HX_")).Select(m => m.Name));
        var header = new HashSet<string>(Regex.Matches(File.ReadAllText(args[1]), @"\b(CS_HX_\w+)\s*\(")
                                         .Cast<Match>().Select(m => m.Groups[1].Value));
        foreach (string name in header)
            Expect(declared.Contains(name), name + " has a managed declaration");
        foreach (string name in declared)
            Expect(header.Contains(name), name + " is in hx.h");
        foreach (MethodInfo method in typeof(NativeMethods).GetMethods(BindingFlags.Public | BindingFlags.Static)) {
            try {
                Marshal.Prelink(method);
            } catch (Exception error) {
                Expect(false, method.Name + " resolves in the library: " + error.Message);
            }
        }
        Expect(NativeMethods.CS_HX_VersionMaj() == Hx.HX_API_VERSION_MAJ && NativeMethods.CS_HX_VersionMin() == Hx.HX_API_VERSION_MIN,
               "the library's interface version");
        if (failures != 0)
            return 1;
        Console.WriteLine("dotnet_layout: {0} checks, {1} records, {2} functions: done", checks, records.Count, header.Count);
        return 0;
    }
}
