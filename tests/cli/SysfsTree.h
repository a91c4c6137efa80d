// A sysfs and /dev tree in a temporary directory, for VARDEL_SYSFS_ROOT: no
// serial port at all, one USB serial port (a cdc-acm ttyACM0), its by-id
// link, a tty that cannot be read.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace cli_test {

class SysfsTree {
public:
    SysfsTree() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vardel-cli-sysfs-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
    }
    ~SysfsTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    SysfsTree(const SysfsTree&) = delete;
    SysfsTree& operator=(const SysfsTree&) = delete;

    std::string Root() const { return root_.string(); }

    // ttyACM0 on USB interface 1-1:1.0, as the kernel lays it out.
    void UsbPort() {
        namespace fs = std::filesystem;
        const fs::path usb = root_ / "sys/devices/pci0000:00/0000:00:14.0/usb1";
        const fs::path device = usb / "1-1";
        const fs::path interface = device / "1-1:1.0";
        fs::create_directories(interface / "tty/ttyACM0");
        fs::create_directories(root_ / "sys/bus/usb");
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_symlink(root_ / "sys/bus/usb", device / "subsystem");
        fs::create_symlink(root_ / "sys/bus/usb", interface / "subsystem");
        fs::create_symlink("../../../1-1:1.0", interface / "tty/ttyACM0/device");
        fs::create_symlink("../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/tty/ttyACM0",
                           root_ / "sys/class/tty/ttyACM0");
    }

    // A /dev/serial/by-id link to a tty: its name is whatever bytes the USB
    // device's strings give (no '/').
    void ById(const std::string& link, const std::string& tty) {
        std::filesystem::create_directories(root_ / "dev/serial/by-id");
        std::filesystem::create_symlink("../../" + tty, root_ / "dev/serial/by-id" / link);
    }

    // A tty whose device link loops: what it is cannot be read.
    void LoopingPort(const std::string& tty) {
        namespace fs = std::filesystem;
        const fs::path dir = root_ / "sys/devices/virtual/looping" / tty;
        fs::create_directories(dir);
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_symlink("device", dir / "device");
        fs::create_symlink("../../devices/virtual/looping/" + tty, root_ / "sys/class/tty" / tty);
    }

private:
    std::filesystem::path root_;
};

}  // namespace cli_test
