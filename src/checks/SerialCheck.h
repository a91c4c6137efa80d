// The serial-port check: the USB serial ports the system declares, for
// readers reached through a COM port. Windows declares them in the registry's
// hardware device map; Linux in sysfs (SysfsSerialPorts.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "checks/Registry.h"
#include "checks/Report.h"

namespace checks {

// Key of the hardware device map: one value per serial port, named after the
// port's device (\Device\USBSER000), holding the port's name (COM3).
inline constexpr std::u16string_view kSerialCommKey = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";
// Device names of USB serial ports begin with this, letter case included.
inline constexpr std::u16string_view kUsbDevicePrefix = u"\\Device\\USB";

struct SerialPort {
    std::u16string port;    // COM3, /dev/ttyACM0
    std::u16string device;  // \Device\USBSER000, usb-Vendor_Product_Serial-if00, 1-1:1.0
    // The device name's bytes when they are not UTF-8 (a Linux file name is
    // only bytes): device shows U+FFFD for those that are not.
    std::optional<std::string> deviceBytes = std::nullopt;
    // Why the port could not be read (a tty whose device link cannot be
    // followed): such a port is not one found, and device is empty. UTF-8.
    std::optional<std::string> error = std::nullopt;

    friend bool operator==(const SerialPort&, const SerialPort&) = default;
};

struct SerialCheckResult {
    bool declared = false;  // the system's list of serial ports could be read
    // In the report's order: the ports found, then those that could not be
    // read (error set).
    std::vector<SerialPort> ports;
};

// The check over the registry: clears the pane and writes the report. A USB
// port value whose data is not text throws RegistryValueNotText; the lines
// written before it stay in the pane and the current key is closed all the
// same.
SerialCheckResult RunSerialCheck(ReportPane& pane, RegistryAccessor& registry);

// The platform's own check: the registry on Windows, sysfs elsewhere.
SerialCheckResult RunPlatformSerialCheck(ReportPane& pane);

}  // namespace checks
