// A library opened at run time by name: the operating system's loader behind four calls, so that
// the packing code above it includes no system header.
#pragma once

#include <string>

namespace halvex::packing {

// Threads: any; callers serialise loads and unloads of one module themselves.
class LoadableModule {
public:
    // The packing library's file name on this system.
    static const char* defaultName();
    // The opened module, or nullptr with the loader's reason in `error`.
    static void* load(const std::string& name, std::string& error);
    // The address of an exported entry, or nullptr when the module lacks it.
    static void* find(void* module, const char* entryName);
    static void unload(void* module);
};

} // namespace halvex::packing
