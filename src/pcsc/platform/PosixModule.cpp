// Loading the smart-card library with dlopen.
#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

#include "pcsc/platform/Platform.h"

namespace pcsc::platform {
namespace {
std::mutex g_errorMutex;
std::string g_lastError;

void RememberError(const char* text) {
    std::lock_guard lock(g_errorMutex);
    g_lastError = text ? text : "";
}
}  // namespace

std::string SmartCardLibraryPath() {
    if (const char* path = std::getenv(kLibraryOverrideVariable); path && *path) return path;
#if defined(__APPLE__)
    return "/System/Library/Frameworks/PCSC.framework/PCSC";
#else
    return "libpcsclite.so.1";
#endif
}

ModuleHandle LoadSmartCardLibrary() {
    const std::string path = SmartCardLibraryPath();
    // RTLD_LOCAL: the library's symbols must not satisfy anyone else's.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        RememberError(dlerror());
        return 0;
    }
    return reinterpret_cast<ModuleHandle>(module);
}

void* FindExport(ModuleHandle module, const char* name) {
    if (!module) return nullptr;
    return dlsym(reinterpret_cast<void*>(module), name);
}

void FreeModule(ModuleHandle module) {
    if (module) dlclose(reinterpret_cast<void*>(module));
}

std::string LastLoadError() {
    std::lock_guard lock(g_errorMutex);
    return g_lastError;
}

}  // namespace pcsc::platform
