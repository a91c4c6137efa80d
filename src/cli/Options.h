// The command line of vardel-lecteurs-cli: what to run and how to show it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "pcsc/PCSCDef.h"

namespace cli {

// The three checks, in the order of the window's tabs.
enum class CheckId { Service, Serial, Direct };

inline constexpr CheckId kAllChecks[] = {CheckId::Service, CheckId::Serial, CheckId::Direct};

// "pcsc", "com", "direct": the names used on the command line and in JSON.
std::string_view CheckName(CheckId id);

enum class ColorMode { Auto, Always, Never };

struct Options {
    std::vector<CheckId> checks;  // selected, in tab order, each once
    bool json = false;
    bool watch = false;
    bool details = false;
    ColorMode color = ColorMode::Auto;
    std::chrono::milliseconds timeout{10000};
    std::string timeoutText = "10";       // as given, for messages
    std::optional<pcsc::Status> explain;  // --explain CODE
    bool help = false;
    bool version = false;

    bool Selected(CheckId id) const;
};

// A command line that cannot be understood; what() says why, in French.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the arguments (without the program name). Throws UsageError.
Options ParseArguments(const std::vector<std::string_view>& arguments);

// A status code written in hexadecimal (0x...) or decimal, signed or not, as
// long as it fits in 32 bits; nullopt when it cannot be read.
std::optional<pcsc::Status> ParseStatusCode(std::string_view text);

// The --help text (UTF-8).
std::string HelpText();
// The --version line (UTF-8), without line end.
std::string VersionText();

// Exit statuses.
inline constexpr int kExitReaderFound = 0;
inline constexpr int kExitStopped = 0;  // --watch stopped cleanly, --explain
inline constexpr int kExitNothingFound = 1;
inline constexpr int kExitUnreachable = 2;
inline constexpr int kExitNoAnswer = 3;
inline constexpr int kExitCheckError = 4;
inline constexpr int kExitUsage = 64;

}  // namespace cli
