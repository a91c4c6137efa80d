// The Linux serial-port source over generated sysfs and /dev trees.
//
// The input builds a small tree in a directory of this process's own: device
// nodes, subsystem links, ttys with device links, /dev/serial/by-id links,
// and the odd ones — broken links, links to themselves, link loops, plain
// files where links belong, a class directory that is a link or a loop.
// Then the list must come back without a crash or a hang, and must be what a
// second reading of the same tree, written plainly with POSIX calls, finds:
// every tty whose device sits on a USB interface, none other, each under
// /dev/, in natural order of the tty names.
//
// Input: one byte of flags for the skeleton, then operations, one byte each
// followed by their arguments.
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "FuzzSupport.h"
#include "checks/SysfsSerialPorts.h"
#include "pcsc/TextConversions.h"

namespace {

namespace fs = std::filesystem;

fs::path gRoot;  // canonical, one per process

void RemoveRoot() {
    std::error_code ignored;
    if (!gRoot.empty()) fs::remove_all(gRoot, ignored);
}

const char* const kComponents[] = {
    "pci0000:00", "0000:00:14.0", "usb1",    "usb2",      "1-1",     "1-2", "1-1.4",
    "1-1:1.0",    "1-1:1.1",      "1-2:1.0", "1-1.4:1.2", "ttyUSB0", "tty", "platform",
    "serial8250", "pnp0",         "00:05",   "virtual",   "port1",   "usb", ":",
};
const char* const kTtyNames[] = {
    "ttyACM0", "ttyACM1", "ttyACM2",     "ttyACM10", "ttyACM01", "ttyACM001",
    "ttyUSB0", "ttyUSB9", "ttyUSB10",    "ttyS0",    "ttyS10",   "tty0",
    "console", "ttyUSB",  "tty\xc3\xa9", "tty\xff",  "tty\xfe",  "10",
    "9",       "a1b2",    "a01b",        "a1b",      "ttyACM0a", "ttyACM00",
};
const char* const kByIdNames[] = {
    "usb-Vendor_Reader_0001-if00", "usb-Vendor_Reader_0001-if01",
    "usb-ACME_Lecteur-if00",       "a",
    "usb-\xc3\xa9t\xc3\xa9-if00",  "usb-\xff-if00",
};
const char* const kBuses[] = {"usb", "usb-serial", "platform", "pnp", "tty"};

template <std::size_t N>
std::string Pick(fuzz::ByteReader& in, const char* const (&names)[N]) {
    return names[in.Below(N)];
}

// A file name of the input's own, or a fallback when it cannot be one.
std::string FreeName(fuzz::ByteReader& in, const std::string& fallback) {
    std::string name;
    for (char c : in.Text(12))
        if (c != '/' && c != '\0') name += c;
    if (name.empty() || name == "." || name == ".." || name == "device" || name == "subsystem")
        return fallback;
    return name;
}

// Does p (once its existing part is resolved) stay inside the root? Nothing
// is ever written through a link that leads out of it.
bool Inside(const fs::path& p) {
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(p, error);
    if (error) return false;
    const fs::path relative = resolved.lexically_relative(gRoot);
    return !relative.empty() && *relative.begin() != "..";
}

void MakeDirectories(const fs::path& p) {
    std::error_code ignored;
    if (Inside(p)) fs::create_directories(p, ignored);
}

void MakeLink(const fs::path& target, const fs::path& link) {
    std::error_code ignored;
    if (Inside(link.parent_path())) fs::create_symlink(target, link, ignored);
}

void MakeFile(const fs::path& p) {
    if (!Inside(p.parent_path())) return;
    std::error_code error;
    if (fs::symlink_status(p, error).type() != fs::file_type::not_found) return;
    std::ofstream(p) << "x";
}

// Relative link text from the directory a link is made in to target.
fs::path RelativeFrom(const fs::path& linkDirectory, const fs::path& target) {
    std::error_code error;
    const fs::path real = fs::canonical(linkDirectory, error);
    if (error) return target;  // then an absolute target will do
    return target.lexically_relative(real);
}

class TreeBuilder {
public:
    explicit TreeBuilder(fuzz::ByteReader& in) : in_(in) {}

    std::vector<std::string> Build() {
        const std::uint8_t flags = in_.Byte();
        MakeDirectories(gRoot / "sys/devices");
        MakeDirectories(gRoot / "sys/bus");
        for (const char* bus : kBuses) MakeDirectories(gRoot / "sys/bus" / bus);
        const fs::path classTty = gRoot / "sys/class/tty";
        switch (flags & 7) {
            case 1:  // no tty class at all
                MakeDirectories(classTty.parent_path());
                break;
            case 2:  // the class directory is a link to a real one
                MakeDirectories(gRoot / "sys/devices/virtual/ttyclass");
                MakeDirectories(classTty.parent_path());
                MakeLink("../devices/virtual/ttyclass", classTty);
                break;
            case 3:  // a link to itself
                MakeDirectories(classTty.parent_path());
                MakeLink("tty", classTty);
                break;
            case 4:  // a plain file
                MakeDirectories(classTty.parent_path());
                MakeFile(classTty);
                break;
            default: MakeDirectories(classTty); break;
        }
        if ((flags & 8) == 0) MakeDirectories(gRoot / "dev/serial/by-id");

        while (!in_.Empty() && operations_++ < 64) {
            switch (in_.Below(6)) {
                case 0: DeviceNode(); break;
                case 1: SubsystemLink(); break;
                case 2: Tty(); break;
                case 3: ByIdLink(); break;
                case 4: AliasNode(); break;
                case 5: UsbInterfaceWithTty(); break;
            }
        }
        return ttys_;
    }

private:
    // ---- device nodes -------------------------------------------------------

    fs::path NewNodePath() {
        fs::path node = gRoot / "sys/devices";
        const std::size_t depth = 1 + in_.Below(5);
        for (std::size_t i = 0; i < depth; ++i)
            node /= in_.Below(8) == 0 ? FreeName(in_, "n") : Pick(in_, kComponents);
        return node;
    }

    fs::path AnyNode() {
        if (nodes_.empty()) return gRoot / "sys/devices";
        return nodes_[in_.Below(nodes_.size())];
    }

    // The node and each node above it can take a subsystem link or a tty.
    void DeviceNode() {
        const fs::path node = NewNodePath();
        MakeDirectories(node);
        fs::path above = gRoot / "sys/devices";
        for (const fs::path& component : node.lexically_relative(above)) {
            above /= component;
            nodes_.push_back(above);
        }
    }

    void Subsystem(const fs::path& node, std::size_t choice) {
        const fs::path link = node / "subsystem";
        switch (choice) {
            case 0: MakeLink(gRoot / "sys/bus/usb", link); break;  // absolute
            case 1: MakeLink(RelativeFrom(node, gRoot / "sys/bus/usb"), link); break;
            case 2: MakeLink(RelativeFrom(node, gRoot / "sys/bus/usb-serial"), link); break;
            case 3: MakeLink(RelativeFrom(node, gRoot / "sys/bus/platform"), link); break;
            case 4: MakeLink(RelativeFrom(node, gRoot / "sys/bus/pnp"), link); break;
            case 5: MakeLink("../bus/usb/", link); break;         // trailing slash
            case 6: MakeLink("../../gone/bus/usb", link); break;  // broken, usb by name
            case 7: MakeLink("subsystem", link); break;           // itself
            case 8: MakeFile(link); break;                        // not a link
        }
    }

    void SubsystemLink() { Subsystem(AnyNode(), in_.Below(9)); }

    // A node that is a link to another one: device paths then differ from
    // the paths they are reached by.
    void AliasNode() {
        const fs::path target = AnyNode();
        const fs::path alias = gRoot / "sys/devices" / FreeName(in_, "alias");
        MakeLink(in_.Bit() ? RelativeFrom(alias.parent_path(), target) : target, alias);
        nodes_.push_back(alias);
        if (in_.Bit()) {  // and a loop inside a node
            MakeLink(in_.Bit() ? "." : "..", target / "loop");
        }
    }

    // ---- ttys ---------------------------------------------------------------

    std::string TtyName() {
        return in_.Below(6) == 0 ? FreeName(in_, "ttyX") : Pick(in_, kTtyNames);
    }

    // The device link of a tty made in directory dir.
    void DeviceLink(const fs::path& dir, const fs::path& device, std::size_t choice) {
        const fs::path link = dir / "device";
        switch (choice) {
            case 0: break;  // a virtual terminal: no device
            case 1: MakeLink(RelativeFrom(dir, device), link); break;
            case 2: MakeLink(device, link); break;
            case 3: MakeLink("../../../devices/gone", link); break;  // unplugged
            case 4: MakeLink("device", link); break;                 // itself
            case 5:                                                  // a loop of two
                MakeLink("other", link);
                MakeLink("device", dir / "other");
                break;
            case 6: MakeDirectories(link); break;  // a directory, not a link
            case 7:                                // a chain of two links
                MakeLink("alias", link);
                MakeLink(RelativeFrom(dir, device), dir / "alias");
                break;
        }
    }

    void AddTty(const std::string& name, const fs::path& device, std::size_t form,
                std::size_t linkChoice) {
        const fs::path entry = gRoot / "sys/class/tty" / name;
        std::error_code error;
        if (fs::symlink_status(entry, error).type() != fs::file_type::not_found) return;
        if (ttys_.size() >= 24) return;
        switch (form) {
            case 0:  // a directory of the class itself
                MakeDirectories(entry);
                DeviceLink(entry, device, linkChoice);
                break;
            case 1: {  // as the kernel does: a link to <device>/tty/<name>
                const fs::path real = device / "tty" / name;
                MakeDirectories(real);
                MakeLink(RelativeFrom(entry.parent_path(), real), entry);
                DeviceLink(real, device, linkChoice);
                break;
            }
            case 2:  // a plain file
                MakeFile(entry);
                break;
        }
        ttys_.push_back(name);
    }

    void Tty() {
        const std::string name = TtyName();
        const fs::path device = AnyNode();
        const std::size_t form = in_.Below(3);
        AddTty(name, device, form, in_.Below(8));
    }

    // The common case in one step: a USB device, its interface, a tty on it
    // (directly, as cdc-acm does, or under a port node, as usb-serial does).
    void UsbInterfaceWithTty() {
        const fs::path device = gRoot / "sys/devices/pci0000:00/usb1" / Pick(in_, kComponents);
        const fs::path interface =
            device / (device.filename().string() + ":1." + std::to_string(in_.Below(3)));
        MakeDirectories(interface);
        Subsystem(device, 1);
        Subsystem(interface, 1);
        nodes_.push_back(interface);
        fs::path ttyDevice = interface;
        if (in_.Bit()) {
            ttyDevice = interface / "ttyUSB0";
            MakeDirectories(ttyDevice);
            Subsystem(ttyDevice, 2);
            nodes_.push_back(ttyDevice);
        }
        AddTty(TtyName(), ttyDevice, 1, 1);
    }

    // ---- /dev/serial/by-id ----------------------------------------------------

    void ByIdLink() {
        const fs::path dir = gRoot / "dev/serial/by-id";
        const std::string name = in_.Below(4) == 0 ? FreeName(in_, "id") : Pick(in_, kByIdNames);
        const std::string tty =
            ttys_.empty() || in_.Below(4) == 0 ? TtyName() : ttys_[in_.Below(ttys_.size())];
        const fs::path link = dir / name;
        switch (in_.Below(6)) {
            case 0: MakeLink("../../" + tty, link); break;  // as udev makes them
            case 1: MakeLink(gRoot / "dev" / tty, link); break;
            case 2: MakeLink(tty, link); break;
            case 3: MakeFile(link); break;                        // not a link
            case 4: MakeLink("../../" + tty + "/", link); break;  // names no file
            case 5: MakeDirectories(link); break;
        }
    }

    fuzz::ByteReader& in_;
    std::vector<fs::path> nodes_;
    std::vector<std::string> ttys_;
    int operations_ = 0;
};

// ---- the second reading -----------------------------------------------------

// What follows the last '/', as a link's target names its file.
std::string LastName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> ReadLink(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (length < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::vector<std::string> Entries(DIR* dir) {
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// tty -> its by-id link name or its USB interface; nullopt without a class.
std::optional<std::map<std::string, std::string>> ReadPlainly(const std::string& root) {
    DIR* classDir = ::opendir((root + "/sys/class/tty").c_str());
    if (!classDir) return std::nullopt;
    const std::vector<std::string> ttys = Entries(classDir);

    std::map<std::string, std::string> byId;
    if (DIR* idDir = ::opendir((root + "/dev/serial/by-id").c_str())) {
        for (const std::string& link : Entries(idDir)) {
            const auto target = ReadLink(root + "/dev/serial/by-id/" + link);
            if (!target) continue;
            const std::string tty = LastName(*target);
            auto found = byId.find(tty);
            if (found == byId.end() || link < found->second) byId[tty] = link;
        }
    }

    std::map<std::string, std::string> ports;
    for (const std::string& tty : ttys) {
        char resolved[PATH_MAX];
        if (!::realpath((root + "/sys/class/tty/" + tty + "/device").c_str(), resolved)) continue;
        std::string node = resolved;
        std::string interface;
        while (node != "/" && !node.empty()) {
            const auto subsystem = ReadLink(node + "/subsystem");
            if (subsystem && LastName(*subsystem) == "usb") {
                const std::string name = LastName(node);
                if (name.find(':') != std::string::npos) interface = name;
                break;
            }
            const std::size_t slash = node.rfind('/');
            node = slash == 0 ? "/" : node.substr(0, slash);
        }
        if (interface.empty()) continue;
        const auto link = byId.find(tty);
        ports[tty] = link != byId.end() ? link->second : interface;
    }
    return ports;
}

// "<prefix><number>" without leading zeros: then natural order is the
// number's order.
bool SplitNumber(const std::string& name, std::string& prefix, std::string& number) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    if (digits == name.size()) return false;
    prefix = name.substr(0, digits);
    number = name.substr(digits);
    return number == "0" || number[0] != '0';
}

void CheckNaturalOrder(const std::vector<std::string>& names) {
    using checks::NaturalLess;
    for (const std::string& a : names) {
        FUZZ_CHECK(!NaturalLess(a, a));
        for (const std::string& b : names) {
            const bool ab = NaturalLess(a, b);
            const bool ba = NaturalLess(b, a);
            FUZZ_CHECK_MSG(!(ab && ba), a + " / " + b);
            FUZZ_CHECK_MSG(ab || ba || a == b, a + " / " + b);  // a total order
            std::string pa, na, pb, nb;
            if (SplitNumber(a, pa, na) && SplitNumber(b, pb, nb) && pa == pb && na != nb) {
                const bool smaller = na.size() != nb.size() ? na.size() < nb.size() : na < nb;
                FUZZ_CHECK_MSG(ab == smaller, a + " / " + b);
            }
            if (!ab) continue;
            for (const std::string& c : names)
                if (NaturalLess(b, c)) FUZZ_CHECK_MSG(NaturalLess(a, c), a + " < " + b + " < " + c);
        }
    }
}

}  // namespace

// Where the trees are built: VARDEL_FUZZ_TREE_DIR when set, else a memory
// file system when there is one (a tree is made and removed per input, and
// directory removal on a disk is the slowest part of a run), else TMPDIR.
// The directory goes when the process ends normally; a failed run leaves
// the tree of the failing input there to be looked at.
fs::path TreeParent() {
    if (const char* dir = std::getenv("VARDEL_FUZZ_TREE_DIR"); dir && *dir) return dir;
    std::error_code error;
    if (fs::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return fs::temp_directory_path();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::error_code ignored;
    fs::create_directories(TreeParent(), ignored);
    std::string pattern = (TreeParent() / "vardel-fuzz-sysfs-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    gRoot = fs::canonical(pattern);
    std::atexit(RemoveRoot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::error_code ignored;
    fs::remove_all(gRoot / "sys", ignored);
    fs::remove_all(gRoot / "dev", ignored);

    fuzz::ByteReader in(data, size);
    std::vector<std::string> names = TreeBuilder(in).Build();
    CheckNaturalOrder(names);

    const auto ports = checks::ListUsbSerialPorts(gRoot);
    const auto expected = ReadPlainly(gRoot.string());
    if (std::getenv("VARDEL_FUZZ_VERBOSE")) {  // to see what an input stands for
        std::fprintf(stderr, "%zu ttys made; ", names.size());
        if (!ports) std::fprintf(stderr, "no tty class\n");
        for (const checks::SerialPort& port : ports.value_or(std::vector<checks::SerialPort>{}))
            std::fprintf(stderr, "%s : %s\n", fuzz::Printable(port.port).c_str(),
                         fuzz::Printable(port.device).c_str());
        if (ports && ports->empty()) std::fprintf(stderr, "no port\n");
    }
    FUZZ_CHECK(ports.has_value() == expected.has_value());
    if (!ports) return 0;

    // The same ports, each under /dev/ (never under the root).
    // A device name that is not UTF-8 also comes with its bytes.
    std::vector<checks::SerialPort> wanted;
    for (const auto& [tty, device] : *expected) {
        checks::SerialPort port{pcsc::Utf8ToUtf16("/dev/" + tty), pcsc::Utf8ToUtf16(device)};
        if (pcsc::Utf16ToUtf8(port.device) != device) port.deviceBytes = device;
        wanted.push_back(std::move(port));
    }
    std::vector<checks::SerialPort> got = *ports;
    for (const checks::SerialPort& port : got) FUZZ_CHECK(port.port.rfind(u"/dev/", 0) == 0);
    const auto byText = [](const checks::SerialPort& a, const checks::SerialPort& b) {
        return a.port != b.port ? a.port < b.port : a.device < b.device;
    };
    std::sort(got.begin(), got.end(), byText);
    std::sort(wanted.begin(), wanted.end(), byText);
    FUZZ_CHECK_MSG(got == wanted, std::to_string(got.size()) + " ports listed, " +
                                      std::to_string(wanted.size()) + " expected");

    // In natural order of the tty names, where a port's text names one tty.
    std::vector<std::string> order;
    for (const checks::SerialPort& port : *ports) {
        std::string raw;
        int matches = 0;
        for (const auto& [tty, device] : *expected) {
            if (pcsc::Utf8ToUtf16("/dev/" + tty) == port.port) {
                raw = tty;
                ++matches;
            }
        }
        order.push_back(matches == 1 ? raw : std::string());
    }
    for (std::size_t i = 1; i < order.size(); ++i) {
        if (order[i - 1].empty() || order[i].empty()) continue;
        FUZZ_CHECK_MSG(checks::NaturalLess(order[i - 1], order[i]),
                       order[i - 1] + " listed before " + order[i]);
    }
    return 0;
}
