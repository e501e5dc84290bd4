// Finds the native library where a NuGet package puts it when the host's own search does not:
// runtimes/<rid>/native beside the application or beside this assembly (hosts that load
// Halvex.dll without the application's dependency manifest, such as plug-ins).
using System;
using System.Collections.Generic;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Threading;
using Halvex.Native;

namespace Halvex
{
    internal static class NativeLoader
    {
        static int installed;

        // Must run before the first call into the native library; later calls do nothing.
        internal static void Install()
        {
            if (Interlocked.Exchange(ref installed, 1) != 0)
                return;
#if NET8_0_OR_GREATER
            NativeLibrary.SetDllImportResolver(typeof(NativeLoader).Assembly, Resolve);
#endif
        }

#if NET8_0_OR_GREATER
        static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? path)
        {
            if (name != NativeMethods.Library)
                return IntPtr.Zero;
            if (NativeLibrary.TryLoad(name, assembly, path, out IntPtr handle))
                return handle;
            string file = OperatingSystem.IsWindows() ? "halvex.dll" : "libhalvex.so";
            foreach (string folder in Folders(assembly)) {
                string candidate = Path.Combine(folder, file);
                if (File.Exists(candidate) && NativeLibrary.TryLoad(candidate, out handle))
                    return handle;
            }
            return IntPtr.Zero;
        }

        static IEnumerable<string> Folders(Assembly assembly)
        {
            string os = OperatingSystem.IsWindows() ? "win" : OperatingSystem.IsMacOS() ? "osx" : "linux";
            string rid = os + "-" + RuntimeInformation.ProcessArchitecture.ToString().ToLowerInvariant();
            string native = Path.Combine("runtimes", rid, "native");
            yield return Path.Combine(AppContext.BaseDirectory, native);
            string own = Path.GetDirectoryName(assembly.Location);
            if (string.IsNullOrEmpty(own))
                yield break;
            yield return own;
            yield return Path.Combine(own, native);
            // The package's own layout: lib/<framework>/Halvex.dll beside runtimes/.
            yield return Path.Combine(own, "..", "..", native);
        }
#endif
    }
}
