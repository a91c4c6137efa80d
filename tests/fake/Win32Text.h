// Text between UTF-8 and Windows' UTF-16 (or an 8-bit code page), for the
// Windows side of the tests and the fake winscard.dll. The includer chooses
// how much of <windows.h> it wants before including this.
#pragma once

#include <windows.h>

#include <string>

namespace win32text {

inline std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// In UTF-8 unless another code page is asked for (CP_ACP: the ANSI one).
inline std::string Narrow(const std::wstring& text, UINT codePage = CP_UTF8) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

}  // namespace win32text
