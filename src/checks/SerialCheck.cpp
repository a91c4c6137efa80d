#include "checks/SerialCheck.h"

#include "checks/ShownText.h"

#if defined(_WIN32)
#include "checks/WinRegistry.h"
#else
#include "checks/SysfsSerialPorts.h"
#endif

namespace checks {
namespace {

std::u16string Line(std::u16string_view text) {
    std::u16string line(text);
    line += kLineEnd;
    return line;
}

// Closes the accessor's current key when the run ends, by a throw included:
// a key left open would be leaked, and would be the base of the next run's
// paths in accessors that resolve relative paths from it.
class CurrentKeyCloser {
public:
    explicit CurrentKeyCloser(RegistryAccessor& registry) : registry_(registry) {}
    ~CurrentKeyCloser() { registry_.CloseKey(); }
    CurrentKeyCloser(const CurrentKeyCloser&) = delete;
    CurrentKeyCloser& operator=(const CurrentKeyCloser&) = delete;

private:
    RegistryAccessor& registry_;
};

}  // namespace

SerialCheckResult RunSerialCheck(ReportPane& pane, RegistryAccessor& registry) {
    SerialCheckResult result;
    pane.Clear();
    registry.SetRootKey(RegistryRoot::LocalMachine);
    CurrentKeyCloser closer(registry);

    if (!registry.KeyExists(kSerialCommKey)) {
        pane.Append(Line(u"La clé de registre est introuvable"), kBold, kRed);
        return result;
    }
    result.declared = true;
    pane.Append(Line(u"Clé de registre trouvée"), kBold, kGreen);
    // A key that exists but cannot be opened lists no value, which is what
    // the report then shows.
    registry.OpenKeyReadOnly(kSerialCommKey);
    pane.Append(Line(u"Liste des ports COM :"), kUnderline, kBlack);

    std::vector<std::u16string> names;
    registry.GetValueNames(names);
    for (const std::u16string& name : names) {
        if (!name.starts_with(kUsbDevicePrefix)) continue;
        SerialPort port{registry.ReadString(name), name};
        pane.Append(Line(ShownText(port.port) + u" : " + ShownText(port.device)), kPlain, kBlack);
        result.ports.push_back(std::move(port));
    }
    return result;
}

SerialCheckResult RunPlatformSerialCheck(ReportPane& pane) {
#if defined(_WIN32)
    WinRegistry registry;
    return RunSerialCheck(pane, registry);
#else
    return RunSysfsSerialCheck(pane, SysfsRoot());
#endif
}

}  // namespace checks
