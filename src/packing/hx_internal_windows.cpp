// Image packing, operating-system half: the packing library is a DLL loaded with LoadLibraryA.
#include "packing/hx_internal.h"

#include "platform/win_sockets.h"

#include <string>

const char* HxInternal::defaultModuleName()
{
    return "libhlv_internal.dll";
}

void* HxInternal::loadModule(const std::string& name, std::string& error)
{
    HMODULE module = ::LoadLibraryA(name.c_str());
    if (module == nullptr)
        error = "LoadLibraryA failed with error " + std::to_string(::GetLastError());
    return reinterpret_cast<void*>(module);
}

void* HxInternal::findEntry(void* module, const char* name)
{
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void HxInternal::unloadModule(void* module)
{
    ::FreeLibrary(static_cast<HMODULE>(module));
}
