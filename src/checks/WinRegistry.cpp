#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include "checks/WinRegistry.h"

#include <windows.h>

#include <string>
#include <vector>

namespace checks {
namespace {

HKEY RootHandle(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

HKEY AsKey(std::uintptr_t key) {
    return reinterpret_cast<HKEY>(key);
}

// wchar_t is UTF-16 on Windows: the texts pass through unchanged.
std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

}  // namespace

WinRegistry::~WinRegistry() {
    CloseKey();
}

void WinRegistry::SetRootKey(RegistryRoot root) {
    if (root == root_) return;
    CloseKey();  // a key open under the former root means nothing under the new one
    root_ = root;
}

bool WinRegistry::KeyExists(std::u16string_view path) {
    HKEY key = nullptr;
    const LONG status =
        RegOpenKeyExW(RootHandle(root_), Wide(path).c_str(), 0,
                      STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &key);
    if (status != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool WinRegistry::OpenKeyReadOnly(std::u16string_view path) {
    CloseKey();
    HKEY key = nullptr;
    if (RegOpenKeyExW(RootHandle(root_), Wide(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    currentKey_ = reinterpret_cast<std::uintptr_t>(key);
    return true;
}

void WinRegistry::GetValueNames(std::vector<std::u16string>& names) {
    names.clear();
    if (!currentKey_) return;
    DWORD count = 0;
    DWORD longest = 0;
    if (RegQueryInfoKeyW(AsKey(currentKey_), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &count, &longest, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<wchar_t> buffer(static_cast<std::size_t>(longest) + 1);
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        LONG status = RegEnumValueW(AsKey(currentKey_), index, buffer.data(), &length, nullptr,
                                    nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            // A longer name was written since the key was queried.
            buffer.resize(32768);  // value names are at most 16383 characters
            length = static_cast<DWORD>(buffer.size());
            status = RegEnumValueW(AsKey(currentKey_), index, buffer.data(), &length, nullptr,
                                   nullptr, nullptr, nullptr);
        }
        if (status == ERROR_NO_MORE_ITEMS) break;  // values deleted since the query
        if (status != ERROR_SUCCESS) continue;
        names.emplace_back(buffer.data(), buffer.data() + length);
    }
}

std::u16string WinRegistry::ReadString(std::u16string_view name) {
    if (!currentKey_) return {};
    const std::wstring valueName = Wide(name);
    std::vector<BYTE> data;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG status =
        RegQueryValueExW(AsKey(currentKey_), valueName.c_str(), nullptr, &type, nullptr, &size);
    // The value may grow between the two calls: ask again with its new size.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        data.resize(size);
        status = RegQueryValueExW(AsKey(currentKey_), valueName.c_str(), nullptr, &type,
                                  data.empty() ? nullptr : data.data(), &size);
        if (status == ERROR_SUCCESS) {
            data.resize(size);
            return RegistryDataToText(name, type, data.data(), data.size());
        }
    }
    return {};  // no such value
}

std::optional<std::uint32_t> WinRegistry::ReadInteger(std::u16string_view name) {
    if (!currentKey_) return std::nullopt;
    DWORD type = REG_NONE;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    if (RegQueryValueExW(AsKey(currentKey_), Wide(name).c_str(), nullptr, &type, data, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;  // no such value, or one too long for a number
    return RegistryDataToInteger(type, data, size);
}

void WinRegistry::CloseKey() {
    if (!currentKey_) return;
    RegCloseKey(AsKey(currentKey_));
    currentKey_ = 0;
}

}  // namespace checks
