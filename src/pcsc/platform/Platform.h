// The smart-card library binding's own view of the platform: the records as
// the platform library reads and writes them, and what only the binding's
// code needs to know. Private to src/pcsc: the rest of the tool uses the
// PC/SC names of PCSCDef.h and the small public headers beside it (types and
// values: NativeTypes.h; entry points: EntryPoints.h; loading the library:
// ModuleLoader.h; texts: TextConversions.h).
//
// Known differences between Windows' winscard.dll and pcsc-lite:
//
//   name / record                  Windows              pcsc-lite (x86-64)
//   DWORD, LONG                    32 bits              unsigned long, long (64 bits)
//   SCARDCONTEXT, SCARDHANDLE      ULONG_PTR            long (64 bits)
//   SCARD_PROTOCOL_RAW             0x00010000           0x00000004
//   SCARD_E_UNSUPPORTED_FEATURE    0x80100022           0x8010001F
//   SCARD_CTL_CODE(code)           0x00310000|code<<2   0x42000000+code
//   MAX_ATR_SIZE                   36                   33
//   SCARD_READERSTATE              64 bytes, ATR at 28  80 bytes, ATR at 40
//                                  (x86: 56, ATR at 20)
//   SCARD_IO_REQUEST               8 bytes              16 bytes
//   text entry points              ...W (UTF-16)        plain names (UTF-8)
//   SCardLocateCards, SCardListCards,
//   SCardListInterfaces,
//   SCardGetProviderId             exported             not exported
//
// The types and the first three values are in NativeTypes.h, the exported
// names in ModuleLoader.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pcsc/EntryPoints.h"
#include "pcsc/ModuleLoader.h"
#include "pcsc/NativeTypes.h"
#include "pcsc/TextConversions.h"

#if defined(_WIN32)
#define VARDEL_PCSC_WINSCARD 1
#else
#define VARDEL_PCSC_PCSCLITE 1
#endif

namespace pcsc::platform {

#if defined(VARDEL_PCSC_WINSCARD)
inline constexpr std::size_t kMaxAtrSize = 36;
inline constexpr bool kHasWideEntryPoints = true;
#else  // pcsc-lite
inline constexpr std::size_t kMaxAtrSize = 33;
inline constexpr bool kHasWideEntryPoints = false;
#endif
static_assert(kNamesAreBytes == !kHasWideEntryPoints,
              "names are bytes exactly where the library has no UTF-16 entry points");

// The reader-state record exactly as the platform library reads and writes it.
struct NativeReaderState {
    NativeText szReader;
    void* pvUserData;
    NativeDword dwCurrentState;
    NativeDword dwEventState;
    NativeDword cbAtr;
    unsigned char rgbAtr[kMaxAtrSize];
};

struct NativeIoRequest {
    NativeDword dwProtocol;
    NativeDword cbPciLength;
};

#if defined(VARDEL_PCSC_PCSCLITE) && defined(__x86_64__)
static_assert(sizeof(NativeReaderState) == 80, "pcsc-lite SCARD_READERSTATE is 80 bytes");
static_assert(offsetof(NativeReaderState, rgbAtr) == 40, "pcsc-lite puts the ATR at 40");
static_assert(sizeof(NativeIoRequest) == 16, "pcsc-lite SCARD_IO_REQUEST is 16 bytes");
#endif
#if defined(VARDEL_PCSC_WINSCARD) && defined(_WIN64)
static_assert(sizeof(NativeReaderState) == 64, "SCARD_READERSTATEW is 64 bytes on x64");
static_assert(offsetof(NativeReaderState, rgbAtr) == 28, "SCARD_READERSTATEW puts the ATR at 28");
#elif defined(VARDEL_PCSC_WINSCARD)
static_assert(sizeof(NativeReaderState) == 56, "SCARD_READERSTATEW is 56 bytes on x86");
static_assert(offsetof(NativeReaderState, rgbAtr) == 20, "SCARD_READERSTATEW puts the ATR at 20");
static_assert(sizeof(NativeHandle) == 4, "handles are 32 bits on x86");
#endif

#if defined(VARDEL_PCSC_WINSCARD)
// MultiByteToWideChar(CP_ACP): what AnsiToUtf16 is on Windows.
std::u16string AnsiCodePageToUtf16(std::string_view text);
// WideCharToMultiByte(CP_ACP), without best-fit characters; nullopt when a
// character has no form of its own in the code page.
std::optional<std::string> Utf16ToAnsiCodePage(std::u16string_view text);
#endif

}  // namespace pcsc::platform
