// The Linux serial-port check over a sysfs and /dev tree built like the
// kernel's and udev's, in a temporary directory.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "PanePrinting.h"
#include "checks/SysfsSerialPorts.h"

using namespace checks;
namespace fs = std::filesystem;

namespace {

const std::string kUsbBus = "pci0000:00/0000:00:14.0/usb1";

class SysfsTree {
public:
    SysfsTree() {
        std::string pattern = (fs::temp_directory_path() / "vardel-sysfs-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_directories(root_ / "sys/bus");
    }
    ~SysfsTree() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    SysfsTree(const SysfsTree&) = delete;
    SysfsTree& operator=(const SysfsTree&) = delete;

    const fs::path& Root() const { return root_; }

    // A device node under sys/devices with its subsystem link.
    std::string Device(const std::string& path, const std::string& subsystem) {
        const fs::path node = root_ / "sys/devices" / path;
        fs::create_directories(node);
        fs::create_directories(root_ / "sys/bus" / subsystem);
        fs::create_symlink(root_ / "sys/bus" / subsystem, node / "subsystem");
        return path;
    }
    // A tty of the class whose device link points at `device`, as the kernel
    // makes them (relative links, the class entry a link into sys/devices).
    void Tty(const std::string& name, const std::string& device) {
        const fs::path dir = root_ / "sys/devices" / device / "tty" / name;
        fs::create_directories(dir);
        fs::create_symlink("../../../" + fs::path(device).filename().string(), dir / "device");
        ClassLink(name, device + "/tty/" + name);
    }
    // A virtual terminal: no device link at all.
    void VirtualTty(const std::string& name) {
        fs::create_directories(root_ / "sys/devices/virtual/tty" / name);
        ClassLink(name, "virtual/tty/" + name);
    }
    void BrokenDeviceLink(const std::string& name) {
        const fs::path dir = root_ / "sys/devices/virtual/gone" / name;
        fs::create_directories(dir);
        fs::create_symlink("../../../unplugged-1-9:1.0", dir / "device");
        ClassLink(name, "virtual/gone/" + name);
    }
    void DanglingClassEntry(const std::string& name) {
        fs::create_symlink("../../devices/nowhere/" + name, root_ / "sys/class/tty" / name);
    }
    void ById(const std::string& link, const std::string& tty) {
        fs::create_directories(root_ / "dev/serial/by-id");
        fs::create_symlink("../../" + tty, root_ / "dev/serial/by-id" / link);
    }

private:
    void ClassLink(const std::string& name, const std::string& devicePath) {
        fs::create_symlink("../../devices/" + devicePath, root_ / "sys/class/tty" / name);
    }

    fs::path root_;
};

// Restores VARDEL_SYSFS_ROOT as it was.
class SysfsRootOverride {
public:
    explicit SysfsRootOverride(const fs::path& root) {
        if (const char* old = getenv(kSysfsRootVariable)) old_ = old;
        setenv(kSysfsRootVariable, root.c_str(), 1);
    }
    ~SysfsRootOverride() {
        if (old_.empty())
            unsetenv(kSysfsRootVariable);
        else
            setenv(kSysfsRootVariable, old_.c_str(), 1);
    }

private:
    std::string old_;
};

const ReportPiece kFound{u"Ports série du système trouvés\r\n", kBold, kGreen};
const ReportPiece kListTitle{u"Liste des ports série :\r\n", kUnderline, kBlack};

}  // namespace

TEST(SysfsSerialCheck, ListsTheTtysOnUsbInterfacesInNaturalOrder) {
    SysfsTree tree;
    // cdc-acm: the tty's device is the interface itself.
    tree.Tty("ttyACM0", tree.Device(kUsbBus + "/1-1/1-1:1.0", "usb"));
    tree.Tty("ttyACM10", tree.Device(kUsbBus + "/1-4/1-4:1.2", "usb"));
    tree.Tty("ttyACM2", tree.Device(kUsbBus + "/1-3/1-3:1.0", "usb"));
    // usb-serial: a port node between the interface and the tty.
    tree.Device(kUsbBus + "/1-2/1-2:1.0", "usb");
    tree.Tty("ttyUSB0", tree.Device(kUsbBus + "/1-2/1-2:1.0/ttyUSB0", "usb-serial"));
    // Built-in ports and virtual terminals.
    tree.Tty("ttyS0", tree.Device("platform/serial8250", "platform"));
    tree.Tty("ttyS1", tree.Device("pnp0/00:05", "pnp"));
    tree.VirtualTty("tty0");
    tree.VirtualTty("console");
    tree.ById("usb-Vendor_Product_Serial-if00", "ttyACM0");
    tree.ById("usb-Other_Gone_1-if00", "ttyACM7");

    const std::vector<ReportPiece> expected{kFound,
                                            kListTitle,
                                            Entry(u"/dev/ttyACM0 : usb-Vendor_Product_Serial-if00"),
                                            Entry(u"/dev/ttyACM2 : 1-3:1.0"),
                                            Entry(u"/dev/ttyACM10 : 1-4:1.2"),
                                            Entry(u"/dev/ttyUSB0 : 1-2:1.0")};
    RecordingPane pane;
    const SerialCheckResult result = RunSysfsSerialCheck(pane, tree.Root());
    EXPECT_EQ(pane.Pieces(), expected);
    EXPECT_TRUE(result.declared);
    EXPECT_EQ(result.ports,
              (std::vector<SerialPort>{{u"/dev/ttyACM0", u"usb-Vendor_Product_Serial-if00"},
                                       {u"/dev/ttyACM2", u"1-3:1.0"},
                                       {u"/dev/ttyACM10", u"1-4:1.2"},
                                       {u"/dev/ttyUSB0", u"1-2:1.0"}}));

    // The platform's entry point reads the tree that VARDEL_SYSFS_ROOT names.
    SysfsRootOverride override(tree.Root());
    RecordingPane platformPane;
    RunPlatformSerialCheck(platformPane);
    EXPECT_EQ(platformPane.Pieces(), expected);
}

TEST(SysfsSerialCheck, NoTtyClassWritesTheFailureLine) {
    SysfsTree tree;
    fs::remove_all(tree.Root() / "sys/class");
    RecordingPane pane;

    const SerialCheckResult result = RunSysfsSerialCheck(pane, tree.Root());

    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{
                  {u"Aucun port série n'est déclaré par le système\r\n", kBold, kRed}}));
    EXPECT_FALSE(result.declared);
}

TEST(SysfsSerialCheck, NoUsbPortIsOnePlainLineAndNoSuccess) {
    SysfsTree tree;
    tree.Tty("ttyS0", tree.Device("platform/serial8250", "platform"));
    tree.VirtualTty("tty1");
    RecordingPane pane;

    const SerialCheckResult result = RunSysfsSerialCheck(pane, tree.Root());

    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{
                  {u"Aucun port série USB n'est déclaré par le système\r\n", kPlain, kBlack}}));
    EXPECT_TRUE(result.declared);
    EXPECT_TRUE(result.ports.empty());
}

TEST(SysfsSerialCheck, TtysWhoseDeviceCannotBeFollowedAreLeftOut) {
    SysfsTree tree;
    tree.BrokenDeviceLink("ttyACM1");
    tree.DanglingClassEntry("ttyUSB3");
    tree.Tty("ttyACM0", tree.Device(kUsbBus + "/1-1/1-1:1.0", "usb"));
    RecordingPane pane;

    RunSysfsSerialCheck(pane, tree.Root());

    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{kFound, kListTitle, Entry(u"/dev/ttyACM0 : 1-1:1.0")}));
}

TEST(SysfsSerialCheck, NaturalOrderOfTtyNames) {
    std::vector<std::string> names{"ttyUSB1", "ttyACM10", "ttyS0",  "ttyACM2",
                                   "tty",     "ttyUSB0",  "ttyACM1"};
    std::sort(names.begin(), names.end(), NaturalLess);
    EXPECT_EQ(names, (std::vector<std::string>{"tty", "ttyACM1", "ttyACM2", "ttyACM10", "ttyS0",
                                               "ttyUSB0", "ttyUSB1"}));
    // A strict order even for names that differ only in leading zeros.
    EXPECT_NE(NaturalLess("ttyACM01", "ttyACM1"), NaturalLess("ttyACM1", "ttyACM01"));
    EXPECT_FALSE(NaturalLess("ttyACM1", "ttyACM1"));
}
