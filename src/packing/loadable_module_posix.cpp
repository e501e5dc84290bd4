// A library opened at run time, POSIX half: a shared object opened with dlopen.
#include "packing/loadable_module.h"

#include <dlfcn.h>

namespace halvex::packing {

const char* LoadableModule::defaultName()
{
    return "libhlv_internal.so";
}

void* LoadableModule::load(const std::string& name, std::string& error)
{
    void* module = ::dlopen(name.c_str(), RTLD_NOW);
    if (module == nullptr) {
        const char* text = ::dlerror();
        error = text != nullptr ? text : "unknown loader error";
    }
    return module;
}

void* LoadableModule::find(void* module, const char* name)
{
    return ::dlsym(module, name);
}

void LoadableModule::unload(void* module)
{
    ::dlclose(module);
}

} // namespace halvex::packing
