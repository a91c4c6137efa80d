// A registry held in memory, standing in for the system's registry in tests.
// Like Windows, it compares key paths and value names without regard to
// letter case and enumerates values in the order they were made.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "checks/Registry.h"

class MemoryRegistry : public checks::RegistryAccessor {
public:
    struct Value {
        std::u16string name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    // A text value as Windows stores it: UTF-16 little-endian with its NUL.
    static Value Text(std::u16string name, std::u16string_view text,
                      std::uint32_t type = checks::kRegSz);
    static Value Raw(std::u16string name, std::uint32_t type, std::vector<std::uint8_t> data);

    void AddKey(checks::RegistryRoot root, std::u16string_view path);
    // Adds the value, or replaces the one of that name in its place.
    void SetValue(checks::RegistryRoot root, std::u16string_view path, Value value);
    void DeleteKey(checks::RegistryRoot root, std::u16string_view path);
    // The key stays visible to KeyExists but cannot be opened read-only.
    void DenyReadOnlyOpen(checks::RegistryRoot root, std::u16string_view path);

    checks::RegistryRoot Root() const { return root_; }
    bool HasOpenKey() const { return current_ != nullptr; }

    void SetRootKey(checks::RegistryRoot root) override;
    bool KeyExists(std::u16string_view path) override;
    bool OpenKeyReadOnly(std::u16string_view path) override;
    void GetValueNames(std::vector<std::u16string>& names) override;
    std::u16string ReadString(std::u16string_view name) override;
    std::optional<std::uint32_t> ReadInteger(std::u16string_view name) override;
    void CloseKey() override;

private:
    struct Key {
        std::vector<Value> values;
        bool denyReadOnlyOpen = false;
    };
    // Root and path folded to one letter case.
    using KeyId = std::pair<checks::RegistryRoot, std::u16string>;

    static std::u16string Fold(std::u16string_view text);
    Key* Find(checks::RegistryRoot root, std::u16string_view path);

    std::map<KeyId, Key> keys_;
    checks::RegistryRoot root_ = checks::RegistryRoot::CurrentUser;
    Key* current_ = nullptr;
};
