// The serial ports Linux declares: the ttys that sysfs shows sitting on a USB
// interface (ttyACM*, ttyUSB*...). Built-in ports (ttyS*) sit on platform or
// PNP devices and virtual terminals on no device at all: neither is listed.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "checks/Report.h"
#include "checks/SerialCheck.h"

namespace checks {

// Set, it is put in front of both /sys and /dev (a test tree holding
// sys/class/tty/... and dev/serial/by-id/...).
inline constexpr const char* kSysfsRootVariable = "VARDEL_SYSFS_ROOT";

// VARDEL_SYSFS_ROOT when set and not empty, else "/".
std::filesystem::path SysfsRoot();

// Tty names in natural order: digit runs compare as numbers (ttyACM2 before
// ttyACM10).
bool NaturalLess(std::string_view a, std::string_view b);

// A tty whose device link is there but cannot be followed (a link that
// loops, a directory that cannot be read): whether it is a USB port is
// unknown.
struct UnreadableTty {
    std::string tty;  // ttyACM1
    std::error_code error;
};

// The USB serial ports under root, sorted by tty name in natural order:
// port "/dev/<tty>" (never prefixed with root), device the file name of the
// port's /dev/serial/by-id link when it has one, else the name of the USB
// interface it sits on (deviceBytes set when that name is not UTF-8). A tty
// without a device link, or whose link leads nowhere (a port unplugged while
// the list is read), is left out; one whose link cannot be followed for any
// other reason is left out too and, when `unreadable` is given, added to it
// in the same order. nullopt when
// <root>/sys/class/tty cannot be read.
std::optional<std::vector<SerialPort>> ListUsbSerialPorts(
    const std::filesystem::path& root, std::vector<UnreadableTty>* unreadable = nullptr);

// The check over sysfs: clears the pane and writes the report. The result's
// ports are the ports found, then the ttys that could not be read, each
// with its error.
SerialCheckResult RunSysfsSerialCheck(ReportPane& pane, const std::filesystem::path& root);

}  // namespace checks
