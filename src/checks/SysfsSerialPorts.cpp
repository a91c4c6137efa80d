#include "checks/SysfsSerialPorts.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <system_error>

#include "checks/ShownText.h"
#include "pcsc/TextConversions.h"

namespace checks {
namespace {

namespace fs = std::filesystem;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A file name's bytes as text: U+FFFD for what is not UTF-8.
std::u16string FileNameText(const std::string& name) {
    return pcsc::Utf8ToUtf16(name);
}

bool IsUtf8(const std::string& bytes) {
    return pcsc::Utf16ToUtf8(FileNameText(bytes)) == bytes;
}

std::u16string Line(std::u16string_view text) {
    std::u16string line(text);
    line += kLineEnd;
    return line;
}

// Name of the bus a sysfs device node belongs to ("usb", "usb-serial",
// "platform"...); "" for a node without one.
std::string Subsystem(const fs::path& node) {
    std::error_code error;
    const fs::path target = fs::read_symlink(node / "subsystem", error);
    return error ? std::string() : target.filename().string();
}

// The USB interface a tty's device node sits on, found by walking up the
// device tree: the node itself (cdc-acm's ttyACM) or an ancestor (usb-serial
// puts a port node between the interface and ttyUSB). The walk stops at the
// first USB node: a USB device is not an interface, and nothing above a USB
// device is one. "" when there is none.
std::string UsbInterfaceOf(const fs::path& device) {
    for (fs::path node = device; node.has_relative_path(); node = node.parent_path()) {
        if (Subsystem(node) != "usb") continue;
        const std::string name = node.filename().string();
        // Interfaces are named <bus>-<port>:<configuration>.<interface>.
        return name.find(':') != std::string::npos ? name : std::string();
    }
    return {};
}

// tty name -> file name of its /dev/serial/by-id link; the first in name
// order when a tty has several.
std::map<std::string, std::string> ByIdLinks(const fs::path& root) {
    std::map<std::string, std::string> links;
    std::error_code error;
    fs::directory_iterator it(root / "dev/serial/by-id", error);
    if (error) return links;  // no USB serial device plugged in, or no udev
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) break;
        const fs::path target = fs::read_symlink(it->path(), error);
        if (error) continue;
        const std::string tty = target.filename().string();
        const std::string link = it->path().filename().string();
        auto [entry, added] = links.emplace(tty, link);
        if (!added && link < entry->second) entry->second = link;
    }
    return links;
}

}  // namespace

fs::path SysfsRoot() {
    const char* root = std::getenv(kSysfsRootVariable);
    return root && *root ? fs::path(root) : fs::path("/");
}

bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t aEnd = i;
            while (aEnd < a.size() && IsDigit(a[aEnd])) ++aEnd;
            std::size_t bEnd = j;
            while (bEnd < b.size() && IsDigit(b[bEnd])) ++bEnd;
            while (i + 1 < aEnd && a[i] == '0') ++i;
            while (j + 1 < bEnd && b[j] == '0') ++j;
            // Without leading zeros, the shorter number is the smaller.
            if (aEnd - i != bEnd - j) return aEnd - i < bEnd - j;
            if (const int order = a.substr(i, aEnd - i).compare(b.substr(j, bEnd - j)))
                return order < 0;
            i = aEnd;
            j = bEnd;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return j < b.size() && i == a.size();
    return a < b;  // equal but for leading zeros: any fixed order will do
}

std::optional<std::vector<SerialPort>> ListUsbSerialPorts(const fs::path& root,
                                                          std::vector<UnreadableTty>* unreadable) {
    std::error_code error;
    fs::directory_iterator it(root / "sys/class/tty", error);
    if (error) return std::nullopt;

    struct Found {
        std::string tty;
        std::string device;
    };
    std::vector<Found> found;
    const auto byId = ByIdLinks(root);
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) return std::nullopt;
        const std::string tty = it->path().filename().string();
        std::error_code linkError;
        const fs::path device = fs::canonical(it->path() / "device", linkError);
        if (linkError) {
            // Virtual terminals have no device link, and an unplugged port's
            // leads nowhere: neither is a port. Any other failure hides what
            // the tty is, which the report says.
            if (unreadable && linkError != std::errc::no_such_file_or_directory)
                unreadable->push_back(UnreadableTty{tty, linkError});
            continue;
        }
        const std::string usbInterface = UsbInterfaceOf(device);
        if (usbInterface.empty()) continue;
        const auto link = byId.find(tty);
        found.push_back(Found{tty, link != byId.end() ? link->second : usbInterface});
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return NaturalLess(a.tty, b.tty); });
    if (unreadable) {
        std::sort(unreadable->begin(), unreadable->end(),
                  [](const UnreadableTty& a, const UnreadableTty& b) {
                      return NaturalLess(a.tty, b.tty);
                  });
    }

    std::vector<SerialPort> ports;
    for (const Found& f : found) {
        SerialPort port{FileNameText("/dev/" + f.tty), FileNameText(f.device)};
        if (!IsUtf8(f.device)) port.deviceBytes = f.device;
        ports.push_back(std::move(port));
    }
    return ports;
}

SerialCheckResult RunSysfsSerialCheck(ReportPane& pane, const fs::path& root) {
    SerialCheckResult result;
    pane.Clear();
    std::vector<UnreadableTty> unreadable;
    const auto ports = ListUsbSerialPorts(root, &unreadable);
    if (!ports) {
        pane.Append(Line(u"Aucun port série n'est déclaré par le système"), kBold, kRed);
        return result;
    }
    result.declared = true;
    // Green only for a port found: an empty list is no success.
    if (ports->empty()) {
        pane.Append(
            Line(unreadable.empty() ? u"Aucun port série USB n'est déclaré par le système"
                                    : u"Aucun port série USB lisible n'est déclaré par le système"),
            kPlain, kBlack);
    } else {
        pane.Append(Line(u"Ports série du système trouvés"), kBold, kGreen);
        pane.Append(Line(u"Liste des ports série :"), kUnderline, kBlack);
    }
    for (const SerialPort& port : *ports) {
        pane.Append(Line(ShownText(port.port) + u" : " + ShownText(port.device)), kPlain, kBlack);
    }
    result.ports = *ports;
    for (const UnreadableTty& tty : unreadable) {
        SerialPort port{FileNameText("/dev/" + tty.tty), {}, std::nullopt, tty.error.message()};
        pane.Append(Line(ShownText(port.port) + u" : lien de périphérique illisible (" +
                         ShownText(pcsc::Utf8ToUtf16(*port.error)) + u")"),
                    kPlain, kRed);
        result.ports.push_back(std::move(port));
    }
    return result;
}

}  // namespace checks
