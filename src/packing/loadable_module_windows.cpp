// A library opened at run time, Windows half: a DLL loaded with LoadLibraryA.
#include "packing/loadable_module.h"

#include "platform/win_sockets.h"

#include <string>

namespace halvex::packing {

const char* LoadableModule::defaultName()
{
    return "libhlv_internal.dll";
}

void* LoadableModule::load(const std::string& name, std::string& error)
{
    HMODULE module = ::LoadLibraryA(name.c_str());
    if (module == nullptr)
        error = "LoadLibraryA failed with error " + std::to_string(::GetLastError());
    return reinterpret_cast<void*>(module);
}

void* LoadableModule::find(void* module, const char* name)
{
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void LoadableModule::unload(void* module)
{
    ::FreeLibrary(static_cast<HMODULE>(module));
}

} // namespace halvex::packing
