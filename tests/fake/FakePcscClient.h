// Test side of the fake smart-card library: points the binding at it through
// VARDEL_PCSC_LIBRARY and reaches its control functions. The test opens the
// same file the binding will load, so both share one copy of the fake.
#pragma once

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakePcscControl.h"

#if defined(_WIN32)
// The Windows side lives in FakePcscClientWin32.cpp: <windows.h> defines the
// PC/SC status names as macros, so a test that speaks PC/SC cannot include it.
namespace fake::win32 {
void* Load(const std::string& path);
void* Symbol(void* module, const char* name);
void Free(void* module);
bool IsLoaded(const std::string& path);
int SetEnvironment(const char* name, const char* value, int overwrite);
int UnsetEnvironment(const char* name);
}  // namespace fake::win32

// POSIX's calls, on the process environment that the binding reads.
inline int setenv(const char* name, const char* value, int overwrite) {
    return fake::win32::SetEnvironment(name, value, overwrite);
}
inline int unsetenv(const char* name) {
    return fake::win32::UnsetEnvironment(name);
}
#endif

namespace fake {

// Points the binding and the direct check at a library file without loading
// it here: one that is missing, or that is no smart-card library.
class LibraryOverride {
public:
    explicit LibraryOverride(const std::string& path) {
        setenv("VARDEL_PCSC_LIBRARY", path.c_str(), 1);
    }
    ~LibraryOverride() { unsetenv("VARDEL_PCSC_LIBRARY"); }
    LibraryOverride(const LibraryOverride&) = delete;
    LibraryOverride& operator=(const LibraryOverride&) = delete;
};

class Library {
public:
    explicit Library(const std::string& path) : path_(path) {
#if defined(_WIN32)
        handle_ = win32::Load(path);
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
        if (!handle_) throw std::runtime_error("cannot load the fake library " + path);
        setenv("VARDEL_PCSC_LIBRARY", path.c_str(), 1);
        Get<void (*)()>("fake_pcsc_reset")();
    }
    ~Library() {
        Get<void (*)()>("fake_pcsc_reset")();
        unsetenv("VARDEL_PCSC_LIBRARY");
#if defined(_WIN32)
        win32::Free(handle_);
#else
        dlclose(handle_);
#endif
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    void SetService(bool up) {
        Get<decltype(&fake_pcsc_set_service)>("fake_pcsc_set_service")(up);
    }
    void AddReader(const std::string& name) {
        Get<decltype(&fake_pcsc_add_reader)>("fake_pcsc_add_reader")(name.c_str());
    }
    void RemoveReader(const std::string& name) {
        Get<decltype(&fake_pcsc_remove_reader)>("fake_pcsc_remove_reader")(name.c_str());
    }
    void SetReaderState(const std::string& name, unsigned long state,
                        const std::vector<unsigned char>& atr = {}) {
        Get<decltype(&fake_pcsc_set_reader_state)>("fake_pcsc_set_reader_state")(
            name.c_str(), state, atr.data(), atr.size());
    }
    void SetResponse(const std::string& name, const std::vector<unsigned char>& data) {
        Get<decltype(&fake_pcsc_set_response)>("fake_pcsc_set_response")(name.c_str(), data.data(),
                                                                         data.size());
    }
    void SetCardProtocol(const std::string& name, unsigned long protocol) {
        Get<decltype(&fake_pcsc_set_card_protocol)>("fake_pcsc_set_card_protocol")(name.c_str(),
                                                                                   protocol);
    }
    void SetAttrib(const std::string& name, unsigned long id,
                   const std::vector<unsigned char>& data) {
        Get<decltype(&fake_pcsc_set_attrib)>("fake_pcsc_set_attrib")(name.c_str(), id, data.data(),
                                                                     data.size());
    }
    void SetControlReply(const std::string& name, const std::vector<unsigned char>& data) {
        Get<decltype(&fake_pcsc_set_control_reply)>("fake_pcsc_set_control_reply")(
            name.c_str(), data.data(), data.size());
    }
    void ForceResult(const std::string& entry, long code, int times) {
        Get<decltype(&fake_pcsc_force_result)>("fake_pcsc_force_result")(entry.c_str(), code,
                                                                         times);
    }
    void OverstateLength(const std::string& entry, unsigned long length, int times) {
        Get<decltype(&fake_pcsc_overstate_length)>("fake_pcsc_overstate_length")(entry.c_str(),
                                                                                 length, times);
    }
    void SetRawReaderList(const std::string& bytes) {
        Get<decltype(&fake_pcsc_set_raw_reader_list)>("fake_pcsc_set_raw_reader_list")(
            bytes.data(), bytes.size());
    }
    void SetPnpMode(int mode) {
        Get<decltype(&fake_pcsc_set_pnp_mode)>("fake_pcsc_set_pnp_mode")(mode);
    }
    long Calls(const std::string& entry) {
        return Get<decltype(&fake_pcsc_calls)>("fake_pcsc_calls")(entry.c_str());
    }
    unsigned long long LastArg(const std::string& entry, int position) {
        return Get<decltype(&fake_pcsc_last_arg)>("fake_pcsc_last_arg")(entry.c_str(), position);
    }
    std::string LastText(const std::string& entry) {
        return Get<decltype(&fake_pcsc_last_text)>("fake_pcsc_last_text")(entry.c_str());
    }
    long OpenContexts() {
        return Get<decltype(&fake_pcsc_open_contexts)>("fake_pcsc_open_contexts")();
    }

    const std::string& Path() const {
        return path_;
    }

private:
    template <typename F>
    F Get(const char* name) {
#if defined(_WIN32)
        void* symbol = win32::Symbol(handle_, name);
#else
        void* symbol = dlsym(handle_, name);
#endif
        if (!symbol) throw std::runtime_error(std::string("fake library lacks ") + name);
        return reinterpret_cast<F>(symbol);
    }

    std::string path_;
    void* handle_ = nullptr;
};

// True while the library file is loaded in this process.
inline bool IsLoaded(const std::string& path) {
#if defined(_WIN32)
    return win32::IsLoaded(path);
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    dlclose(handle);
    return true;
#endif
}

}  // namespace fake
