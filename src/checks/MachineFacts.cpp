#include "checks/MachineFacts.h"

#include <filesystem>
#include <initializer_list>
#include <system_error>

#include "pcsc/ModuleLoader.h"

#if defined(_WIN32)
#include "checks/WinRegistry.h"
#endif

namespace checks {
namespace {

[[maybe_unused]] bool AnyExists(std::initializer_list<const char*> paths) {
    for (const char* path : paths) {
        std::error_code error;
        if (std::filesystem::exists(path, error)) return true;
    }
    return false;
}

}  // namespace

std::optional<std::uint32_t> ReadServiceStart(RegistryAccessor& registry) {
    registry.SetRootKey(RegistryRoot::LocalMachine);
    if (!registry.OpenKeyReadOnly(kSmartCardServiceKey)) return std::nullopt;
    const std::optional<std::uint32_t> start = registry.ReadInteger(kServiceStartValue);
    registry.CloseKey();
    return start;
}

MachineFacts ReadMachineFacts() {
    MachineFacts facts;
    facts.library = pcsc::platform::SmartCardLibraryPath();
#if defined(_WIN32)
    WinRegistry registry;
    facts.serviceStart = ReadServiceStart(registry);
#else
    // Where Debian, Ubuntu, Fedora and a build from source put them.
    facts.serviceInstalled =
        AnyExists({"/usr/sbin/pcscd", "/usr/bin/pcscd", "/usr/local/sbin/pcscd"});
    facts.ccidDriverInstalled = AnyExists({"/usr/lib/pcsc/drivers/ifd-ccid.bundle",
                                           "/usr/lib64/pcsc/drivers/ifd-ccid.bundle",
                                           "/usr/local/lib/pcsc/drivers/ifd-ccid.bundle"});
#endif
    return facts;
}

}  // namespace checks
