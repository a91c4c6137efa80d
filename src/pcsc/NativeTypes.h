// The smart-card library's own scalar types and the values that Windows'
// winscard.dll and pcsc-lite publish differently under the same name
// (platform/Platform.h tables every difference). PCSCDef.h gives these
// values their PC/SC names; the binding and the direct check pass these
// types to the library.
#pragma once

#include <cstdint>

namespace pcsc::platform {

#if defined(_WIN32)
using NativeLong = std::int32_t;
using NativeDword = std::uint32_t;
using NativeHandle = std::uintptr_t;
using NativeText = const char16_t*;
using NativeTextBuffer = char16_t*;

inline constexpr std::uint32_t kProtocolRaw = 0x00010000;
inline constexpr std::uint32_t kUnsupportedFeature = 0x80100022;
#else  // pcsc-lite
using NativeLong = long;
using NativeDword = unsigned long;
using NativeHandle = long;
using NativeText = const char*;
using NativeTextBuffer = char*;

inline constexpr std::uint32_t kProtocolRaw = 0x00000004;
inline constexpr std::uint32_t kUnsupportedFeature = 0x8010001F;
#endif

// The 32-bit status code an entry point returned. pcsc-lite returns it in a
// long (64 bits on x86-64): the code is the low 32 bits.
constexpr std::uint32_t StatusOf(NativeLong result) {
    return static_cast<std::uint32_t>(result);
}

// The device-control code formula of the Windows DDK: bits shifted out above
// bit 31 are lost, nothing is masked.
constexpr std::uint32_t CtlCode(std::uint32_t deviceType, std::uint32_t function,
                                std::uint32_t method, std::uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

// The control code of a smart-card function number (2049: the reader's
// version query). pcsc-lite keeps the general formula for reference but
// defines its smart-card codes as 0x42000000 + code (its SCARD_CTL_CODE).
constexpr std::uint32_t SmartCardCtlCode(std::uint32_t code) {
#if defined(_WIN32)
    return CtlCode(0x31, code, 0, 0);
#else
    return 0x42000000u + code;
#endif
}

}  // namespace pcsc::platform
