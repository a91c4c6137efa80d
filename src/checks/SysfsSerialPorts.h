// The serial ports Linux declares: the ttys that sysfs shows sitting on a USB
// interface (ttyACM*, ttyUSB*...). Built-in ports (ttyS*) sit on platform or
// PNP devices and virtual terminals on no device at all: neither is listed.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
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

// The USB serial ports under root, sorted by tty name in natural order:
// port "/dev/<tty>" (never prefixed with root), device the file name of the
// port's /dev/serial/by-id link when it has one, else the name of the USB
// interface it sits on. A tty whose device link cannot be followed (a port
// unplugged while the list is read) is left out. nullopt when
// <root>/sys/class/tty cannot be read.
std::optional<std::vector<SerialPort>> ListUsbSerialPorts(const std::filesystem::path& root);

// The check over sysfs: clears the pane and writes the report.
SerialCheckResult RunSysfsSerialCheck(ReportPane& pane, const std::filesystem::path& root);

}  // namespace checks
