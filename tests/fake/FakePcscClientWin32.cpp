// The Windows calls behind FakePcscClient.h: loading the fake, finding its
// control functions and setting the process environment.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "Win32Text.h"

namespace fake::win32 {

using win32text::Wide;

void* Load(const std::string& path) {
    return LoadLibraryW(Wide(path).c_str());
}

void* Symbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void Free(void* module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}

bool IsLoaded(const std::string& path) {
    HMODULE module = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, Wide(path).c_str(),
                              &module) != 0;
}

int SetEnvironment(const char* name, const char* value, int overwrite) {
    const std::wstring wideName = Wide(name);
    if (!overwrite && GetEnvironmentVariableW(wideName.c_str(), nullptr, 0) > 0) return 0;
    return SetEnvironmentVariableW(wideName.c_str(), Wide(value).c_str()) ? 0 : -1;
}

int UnsetEnvironment(const char* name) {
    return SetEnvironmentVariableW(Wide(name).c_str(), nullptr) ? 0 : -1;
}

}  // namespace fake::win32
