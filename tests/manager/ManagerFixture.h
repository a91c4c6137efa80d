// A reader manager over the fake smart-card library, with a plain main loop
// installed on the test's thread: the watcher's hand-overs run there, and the
// idle hook drains the manager's queue one event per pass, as an
// application's idle handler does.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "FakePcscClient.h"
#include "pcsc/PCSC.h"

namespace testing_support {

inline std::string Narrow(const std::u16string& text) {
    return pcsc::Utf16ToUtf8(text);
}

// Every notification the manager gives, in order, as short texts:
// "found R", "removed R", "state R", "inserted R 3B 00", "card-removed R",
// "error R".
struct Recorder {
    std::vector<std::string> events;

    void Attach(pcsc::TPCSC& manager) {
        manager.SetOnReaderFound(
            [this](pcsc::TPCSC*, const std::u16string& r) { Add("found", r); });
        manager.SetOnReaderRemoved(
            [this](pcsc::TPCSC*, const std::u16string& r) { Add("removed", r); });
        manager.SetOnCardStateChanged(
            [this](pcsc::TPCSC*, const std::u16string& r) { Add("state", r); });
        manager.SetOnCardInserted(
            [this](pcsc::TPCSC*, const std::u16string& r, const pcsc::Bytes& atr) {
                std::string text = "inserted " + Narrow(r);
                if (!atr.empty()) text += " " + Narrow(pcsc::BytesToHexString(atr));
                events.push_back(text);
            });
        manager.SetOnCardRemoved(
            [this](pcsc::TPCSC*, const std::u16string& r) { Add("card-removed", r); });
        manager.SetOnCardError([this](pcsc::TPCSC*, const std::u16string& r) { Add("error", r); });
    }
    void Add(const char* what, const std::u16string& reader) {
        events.push_back(std::string(what) + " " + Narrow(reader));
    }
    bool Has(const std::string& event) const {
        for (const auto& e : events) {
            if (e == event) return true;
        }
        return false;
    }
    std::size_t Count(const std::string& event) const {
        std::size_t n = 0;
        for (const auto& e : events) n += e == event;
        return n;
    }
    // Events matching a prefix, in order ("found", "inserted R"...).
    std::vector<std::string> Starting(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : events) {
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        }
        return out;
    }
};

class ManagerOverFake : public ::testing::Test {
protected:
    static constexpr std::chrono::milliseconds kCycle{5};

    ManagerOverFake() : lib(FAKE_PCSC_PATH) { pcsc::SetMainThread(&loop); }
    ~ManagerOverFake() override {
        manager.reset();
        loop.SetIdleHook(nullptr);
        pcsc::SetMainThread(nullptr);
    }

    // Makes, hooks and starts a manager; the idle hook dispatches its events.
    pcsc::TPCSC& StartManager(bool start = true) {
        manager = std::make_unique<pcsc::TPCSC>(kCycle);
        recorder.Attach(*manager);
        loop.SetIdleHook([this] {
            if (manager) manager->ProcessEvent();
        });
        if (start) manager->Start();
        return *manager;
    }

    // Serves the loop until done() or 10 s (a guard against a hang, not a
    // measure): returns done()'s last value.
    bool RunUntil(const std::function<bool()>& done) {
        return loop.RunUntil(done, std::chrono::steady_clock::now() + std::chrono::seconds(10));
    }
    bool RunUntilEvent(const std::string& event) {
        return RunUntil([&] { return recorder.Has(event); });
    }
    // Serves the loop for a number of idle passes (the watcher's hand-overs
    // wake it every cycle), for "nothing more happens" checks.
    void RunCycles(unsigned cycles) {
        int ticks = 0;
        loop.SetIdleHook([this, &ticks] {
            if (manager) manager->ProcessEvent();
            ++ticks;
        });
        RunUntil([&] { return ticks >= static_cast<int>(cycles); });
        loop.SetIdleHook([this] {
            if (manager) manager->ProcessEvent();
        });
    }

    // Serves the loop for a while with nothing expected to happen.
    void RunFor(std::chrono::milliseconds duration) {
        loop.RunUntil([] { return false; }, std::chrono::steady_clock::now() + duration);
    }

    fake::Library lib;
    pcsc::PlainMainLoop loop;
    std::unique_ptr<pcsc::TPCSC> manager;
    Recorder recorder;
};

}  // namespace testing_support
