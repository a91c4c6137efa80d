// Read-only access to the system registry, as the serial-port check needs
// it. The Windows accessor reads the real registry; tests use one of their
// own, the registry being a boundary of the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace checks {

// Predefined root keys, with the values Windows gives them.
enum class RegistryRoot : std::uint32_t {
    CurrentUser = 0x80000001,
    LocalMachine = 0x80000002,
};

// Value types, with the values Windows gives them.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// A value that was read as text but holds something else. The window shows
// what() in a message box.
class RegistryValueNotText : public std::runtime_error {
public:
    RegistryValueNotText(std::u16string_view valueName, std::uint32_t type);
    const std::u16string& ValueName() const { return valueName_; }
    std::uint32_t Type() const { return type_; }

private:
    std::u16string valueName_;
    std::uint32_t type_;
};

// A value's data as text: REG_SZ and REG_EXPAND_SZ give the UTF-16 text up
// to the first NUL, nothing expanded; no data gives the empty text whatever
// the type; any other type throws RegistryValueNotText.
std::u16string RegistryDataToText(std::u16string_view valueName, std::uint32_t type,
                                  const std::uint8_t* data, std::size_t size);

// A value's data as a number: a REG_DWORD's four bytes (little-endian);
// nullopt for any other type or size.
std::optional<std::uint32_t> RegistryDataToInteger(std::uint32_t type, const std::uint8_t* data,
                                                   std::size_t size);

class RegistryAccessor {
public:
    virtual ~RegistryAccessor() = default;

    // Key paths are relative to this root ("HARDWARE\DEVICEMAP\SERIALCOMM").
    virtual void SetRootKey(RegistryRoot root) = 0;
    // True when the key can be opened for reading; leaves nothing open.
    virtual bool KeyExists(std::u16string_view path) = 0;
    // Opens the key read-only as the current key, closing any key open
    // before; false when it cannot be opened (there is then no current key).
    virtual bool OpenKeyReadOnly(std::u16string_view path) = 0;
    // Replaces the content of names with the current key's value names, in
    // the registry's enumeration order; empty when no key is open.
    virtual void GetValueNames(std::vector<std::u16string>& names) = 0;
    // The current key's value as text (see RegistryDataToText); the empty
    // text when there is no such value or no key is open.
    virtual std::u16string ReadString(std::u16string_view name) = 0;
    // The current key's value as a number (see RegistryDataToInteger);
    // nullopt when there is no such value or no key is open.
    virtual std::optional<std::uint32_t> ReadInteger(std::u16string_view name) = 0;
    // Closes the current key, if any.
    virtual void CloseKey() = 0;
};

}  // namespace checks
