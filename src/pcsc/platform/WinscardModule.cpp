// Loading winscard.dll. The system's library is taken from the system
// directory only: the usual search order looks beside the program and in the
// current directory first, where anybody could drop a winscard.dll of their
// own.
#include "pcsc/platform/Platform.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// <windows.h> makes FreeModule a macro for FreeLibrary.
#undef FreeModule

#include <algorithm>
#include <mutex>
#include <string>

namespace pcsc::platform {
namespace {

std::mutex g_errorMutex;
std::string g_lastError;

std::wstring Wide(std::string_view utf8) {
    const std::u16string text = pcsc::Utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string Narrow(std::wstring_view wide) {
    return pcsc::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

// The override as the user wrote it ("" when unset).
std::wstring OverridePath() {
    const std::wstring name = Wide(kLibraryOverrideVariable);
    std::wstring value(MAX_PATH, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length =
            GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) return {};
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);  // too small: length is the size needed, NUL included
    }
}

std::wstring SystemLibraryPath() {
    std::wstring directory(MAX_PATH, L'\0');
    for (;;) {
        const UINT length =
            GetSystemDirectoryW(directory.data(), static_cast<UINT>(directory.size()));
        if (length == 0) return L"winscard.dll";
        if (length < directory.size()) {
            directory.resize(length);
            break;
        }
        directory.resize(length);
    }
    return directory + L"\\winscard.dll";
}

// "C:\dir\file.dll" or "\\server\share\file.dll".
bool IsFullPath(const std::wstring& path) {
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    return path.size() > 2 &&
           ((path[1] == L':' && separator(path[2])) || (separator(path[0]) && separator(path[1])));
}

void RememberError(DWORD code, const std::wstring& path) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : std::wstring();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    std::string report = Narrow(path) + ": error " + std::to_string(code);
    if (!message.empty()) report += " (" + Narrow(message) + ")";
    std::lock_guard lock(g_errorMutex);
    g_lastError = std::move(report);
}

}  // namespace

std::string SmartCardLibraryPath() {
    const std::wstring chosen = OverridePath();
    return Narrow(chosen.empty() ? SystemLibraryPath() : chosen);
}

ModuleHandle LoadSmartCardLibrary() {
    const std::wstring chosen = OverridePath();
    HMODULE module = nullptr;
    std::wstring tried;
    if (!chosen.empty()) {
        // Whoever sets the override names the file they want: a full path is
        // loaded as it is, with its own folder searched for what it needs; a
        // bare name goes through the usual search.
        tried = chosen;
        module = LoadLibraryExW(chosen.c_str(), nullptr,
                                IsFullPath(chosen) ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
    } else {
        tried = L"winscard.dll";
        module = LoadLibraryExW(L"winscard.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
            // A system without the restricted search flags: the full path of
            // the system directory's copy amounts to the same.
            tried = SystemLibraryPath();
            module = LoadLibraryExW(tried.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    if (!module) {
        RememberError(GetLastError(), tried);
        return 0;
    }
    return reinterpret_cast<ModuleHandle>(module);
}

void* FindExport(ModuleHandle module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

void FreeModule(ModuleHandle module) {
    if (module) FreeLibrary(reinterpret_cast<HMODULE>(module));
}

std::string LastLoadError() {
    std::lock_guard lock(g_errorMutex);
    return g_lastError;
}

std::u16string AnsiCodePageToUtf16(std::string_view text) {
    if (text.empty()) return {};
    // The whole text at once: a double-byte code page has characters of two
    // bytes, which byte-by-byte conversion would break.
    const int size = static_cast<int>(std::min<std::size_t>(text.size(), 0x7FFFFFFF));
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
    return std::u16string(wide.begin(), wide.end());
}

std::optional<std::string> Utf16ToAnsiCodePage(std::u16string_view text) {
    if (text.empty()) return std::string();
    // A system whose ANSI code page is UTF-8 has a form for every character
    // (and Windows takes no flag nor default character for it).
    if (GetACP() == CP_UTF8) return Utf16ToUtf8(text);
    const std::wstring wide(text.begin(), text.end());
    const int size = static_cast<int>(std::min<std::size_t>(wide.size(), 0x7FFFFFFF));
    BOOL replaced = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr,
                                           0, nullptr, &replaced);
    if (length <= 0 || replaced) return std::nullopt;
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, bytes.data(), length,
                        nullptr, &replaced);
    if (replaced) return std::nullopt;
    return bytes;
}

}  // namespace pcsc::platform
