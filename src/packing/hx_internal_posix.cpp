// Image packing, operating-system half: the packing library is a shared object opened with dlopen.
#include "packing/hx_internal.h"

#include <dlfcn.h>

const char* HxInternal::defaultModuleName()
{
    return "libhlv_internal.so";
}

void* HxInternal::loadModule(const std::string& name, std::string& error)
{
    void* module = ::dlopen(name.c_str(), RTLD_NOW);
    if (module == nullptr) {
        const char* text = ::dlerror();
        error = text != nullptr ? text : "unknown loader error";
    }
    return module;
}

void* HxInternal::findEntry(void* module, const char* name)
{
    return ::dlsym(module, name);
}

void HxInternal::unloadModule(void* module)
{
    ::dlclose(module);
}
