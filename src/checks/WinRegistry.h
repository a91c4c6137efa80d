// The registry accessor over the Windows registry API (Windows builds only).
#pragma once

#include <cstdint>

#include "checks/Registry.h"

namespace checks {

class WinRegistry : public RegistryAccessor {
public:
    // Root current user, like a registry object made with default settings.
    WinRegistry() = default;
    ~WinRegistry() override;
    WinRegistry(const WinRegistry&) = delete;
    WinRegistry& operator=(const WinRegistry&) = delete;

    void SetRootKey(RegistryRoot root) override;
    bool KeyExists(std::u16string_view path) override;
    bool OpenKeyReadOnly(std::u16string_view path) override;
    void GetValueNames(std::vector<std::u16string>& names) override;
    std::u16string ReadString(std::u16string_view name) override;
    std::optional<std::uint32_t> ReadInteger(std::u16string_view name) override;
    void CloseKey() override;

private:
    RegistryRoot root_ = RegistryRoot::CurrentUser;
    std::uintptr_t currentKey_ = 0;  // HKEY; 0 when no key is open
};

}  // namespace checks
