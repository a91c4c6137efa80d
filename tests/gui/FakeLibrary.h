// The fake smart-card library, from a Qt test: loaded in place of the
// system's (VARDEL_PCSC_LIBRARY), and driven through its control functions.
// The test opens the same file the window's checks load, so both share one
// copy of the fake.
#pragma once

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "FakePcscControl.h"

namespace guitest {

class FakeLibrary {
public:
    explicit FakeLibrary(const std::string& path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) throw std::runtime_error("cannot load the fake library " + path);
        setenv("VARDEL_PCSC_LIBRARY", path.c_str(), 1);
        Reset();
    }
    ~FakeLibrary() {
        Reset();
        unsetenv("VARDEL_PCSC_LIBRARY");
        dlclose(handle_);
    }
    FakeLibrary(const FakeLibrary&) = delete;
    FakeLibrary& operator=(const FakeLibrary&) = delete;

    void Reset() { Get<decltype(&fake_pcsc_reset)>("fake_pcsc_reset")(); }
    void SetService(bool up) { Get<decltype(&fake_pcsc_set_service)>("fake_pcsc_set_service")(up); }
    void AddReader(const std::string& name) {
        Get<decltype(&fake_pcsc_add_reader)>("fake_pcsc_add_reader")(name.c_str());
    }
    void RemoveReader(const std::string& name) {
        Get<decltype(&fake_pcsc_remove_reader)>("fake_pcsc_remove_reader")(name.c_str());
    }
    void SetRawReaderList(const std::string& bytes) {
        Get<decltype(&fake_pcsc_set_raw_reader_list)>("fake_pcsc_set_raw_reader_list")(
            bytes.data(), bytes.size());
    }
    long Calls(const std::string& entry) {
        return Get<decltype(&fake_pcsc_calls)>("fake_pcsc_calls")(entry.c_str());
    }
    long OpenContexts() {
        return Get<decltype(&fake_pcsc_open_contexts)>("fake_pcsc_open_contexts")();
    }

private:
    template <typename F>
    F Get(const char* name) {
        void* symbol = dlsym(handle_, name);
        if (!symbol) throw std::runtime_error(std::string("fake library lacks ") + name);
        return reinterpret_cast<F>(symbol);
    }

    void* handle_ = nullptr;
};

}  // namespace guitest
