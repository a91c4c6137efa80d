// What the verdict needs to know of the machine beyond the checks' own
// findings, to give the remedy that fits it: whether the smart-card service
// and the USB reader driver are installed (Linux), how the "Carte à puce"
// service starts (Windows), the smart-card library's file. Read only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "checks/Registry.h"

namespace checks {

// HKLM key of the "Carte à puce" service and the value giving its start type.
inline constexpr std::u16string_view kSmartCardServiceKey =
    u"SYSTEM\\CurrentControlSet\\Services\\SCardSvr";
inline constexpr std::u16string_view kServiceStartValue = u"Start";
// Start type of a disabled service.
inline constexpr std::uint32_t kServiceDisabled = 4;

struct MachineFacts {
    // Linux: pcscd's program file exists.
    bool serviceInstalled = true;
    // Linux: the CCID driver pcscd needs for USB readers (libccid) is there.
    bool ccidDriverInstalled = true;
    // Windows: the start type of SCardSvr; nullopt when it cannot be read.
    std::optional<std::uint32_t> serviceStart;
    // The smart-card library the tool loads (a file name or a path), UTF-8.
    std::string library;
};

// This machine's.
MachineFacts ReadMachineFacts();
// The start type of SCardSvr as this registry gives it.
std::optional<std::uint32_t> ReadServiceStart(RegistryAccessor& registry);

}  // namespace checks
