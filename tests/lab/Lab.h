// The PC/SC lab from a test: a private pcscd with vpcd virtual readers and
// vicc virtual cards, driven by the project's scripts, and what the tests
// against it share. The CTest fixture starts the lab before the lab tests
// and stops it after them.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "pcsc/Reader.h"
#include "pcsc/TextConversions.h"

namespace lab {

// Only there to turn a service that never shows a change, a deadlock or a
// lost event into a failure.
inline constexpr std::chrono::seconds kGuard{10};

// Points this process (and the scripts it runs) at the lab's service before
// any test reaches the smart-card library.
inline const bool kEnvironmentSet = [] {
    const char* dir = std::getenv("VARDEL_LAB_DIR");
    const std::string lab = dir && *dir ? dir : VARDEL_LAB_DEFAULT_DIR;
    setenv("VARDEL_LAB_DIR", lab.c_str(), 0);
    setenv("PCSCLITE_CSOCK_NAME", (lab + "/run/pcscd.comm").c_str(), 0);
    return true;
}();

// Runs scripts/<command> and returns what it printed; throws when it fails,
// so that a broken lab shows as a test error and not as a wrong result.
inline std::string Run(const std::string& command) {
    const std::string line = std::string(VARDEL_SCRIPTS_DIR) + "/" + command + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + line);
    std::string out;
    std::array<char, 512> chunk;
    while (std::fgets(chunk.data(), chunk.size(), pipe)) out += chunk.data();
    const int status = pclose(pipe);
    if (status != 0) throw std::runtime_error(command + " failed:\n" + out);
    return out;
}

// Name of reader k (0-based) as the lab's service lists it.
inline std::u16string ReaderName(int k) {
    const std::string name =
        "Lab Reader " + std::to_string(k / 2) + " 00 0" + std::to_string(k % 2);
    return std::u16string(name.begin(), name.end());
}

inline std::string LastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r'))
        trimmed.pop_back();
    const auto pos = trimmed.rfind('\n');
    return pos == std::string::npos ? trimmed : trimmed.substr(pos + 1);
}

// Inserts a card in reader k; returns the ATR the service reports, as
// upper-case hexadecimal bytes separated by blanks.
inline std::string CardIn(int k, const std::string& atr = "") {
    return LastLine(Run("card-in " + std::to_string(k) + (atr.empty() ? "" : " '" + atr + "'")));
}

inline void CardOut(int k) {
    Run("card-out " + std::to_string(k));
}

// Restarts the lab's service with n readers (a no-op when it already has
// them); latin1: the last two are named "Lecteur \xE9 00 00" and "... 00 01"
// in Latin-1, bytes that are not UTF-8.
inline void Readers(int n, bool latin1 = false) {
    Run(std::string("lab-up ") + (latin1 ? "--latin1 " : "") + std::to_string(n));
}

inline void Service(const std::string& action) {
    Run("lab-service " + action);
}

inline std::string Narrow(const std::u16string& text) {
    return pcsc::Utf16ToUtf8(text);
}

inline std::string StateName(pcsc::TCardState state) {
    switch (state) {
        case pcsc::TCardState::csUnknown: return "unknown";
        case pcsc::TCardState::csExclusive: return "exclusive";
        case pcsc::TCardState::csShared: return "shared";
        case pcsc::TCardState::csAvailable: return "available";
        case pcsc::TCardState::csBadCard: return "bad-card";
        case pcsc::TCardState::csNoCard: return "no-card";
    }
    return "?";
}

// "3B 02 14 50" -> "3B021450": a reader's own ATR text has no blanks.
inline std::string Packed(const std::string& spaced) {
    std::string packed = spaced;
    packed.erase(std::remove(packed.begin(), packed.end(), ' '), packed.end());
    return packed;
}

// One lab command run on a thread of its own, so that the test's loop goes
// on serving the reader manager while the service stops or starts.
class Background {
public:
    explicit Background(std::string command)
        : thread_([this, command = std::move(command)] {
              try {
                  output_ = Run(command);
              } catch (...) {
                  error_ = std::current_exception();
              }
              done_.store(true, std::memory_order_release);
          }) {}
    ~Background() {
        if (thread_.joinable()) thread_.join();
    }
    bool Done() const { return done_.load(std::memory_order_acquire); }
    // What the command printed, once it is done; rethrows its failure.
    std::string Get() {
        thread_.join();
        if (error_) std::rethrow_exception(error_);
        return output_;
    }

private:
    std::atomic<bool> done_{false};
    std::string output_;
    std::exception_ptr error_;
    std::thread thread_;
};

}  // namespace lab
