// Everything that differs between the smart-card libraries this tool runs on
// lives here: the values the platforms publish under the same name, the
// native records and entry-point signatures, the library's file name and the
// names of its exports. The rest of the code only uses the PC/SC names
// declared in PCSCDef.h.
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
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#if defined(_WIN32)
#define VARDEL_PCSC_WINSCARD 1
#else
#define VARDEL_PCSC_PCSCLITE 1
#endif

#if defined(VARDEL_PCSC_WINSCARD)
#define VARDEL_PCSC_API __stdcall
#else
#define VARDEL_PCSC_API
#endif

namespace pcsc::platform {

#if defined(VARDEL_PCSC_WINSCARD)

inline constexpr std::uint32_t kProtocolRaw = 0x00010000;
inline constexpr std::uint32_t kUnsupportedFeature = 0x80100022;
inline constexpr std::size_t kMaxAtrSize = 36;
inline constexpr bool kHasWideEntryPoints = true;

// The device-control code formula of the Windows DDK: bits shifted out above
// bit 31 are lost, nothing is masked.
constexpr std::uint32_t CtlCode(std::uint32_t deviceType, std::uint32_t function,
                                std::uint32_t method, std::uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr std::uint32_t SmartCardCtlCode(std::uint32_t code) {
    return CtlCode(0x31, code, 0, 0);
}

using NativeLong = std::int32_t;
using NativeDword = std::uint32_t;
using NativeHandle = std::uintptr_t;
using NativeText = const char16_t*;
using NativeTextBuffer = char16_t*;

#else  // pcsc-lite

inline constexpr std::uint32_t kProtocolRaw = 0x00000004;
inline constexpr std::uint32_t kUnsupportedFeature = 0x8010001F;
inline constexpr std::size_t kMaxAtrSize = 33;
inline constexpr bool kHasWideEntryPoints = false;

// pcsc-lite keeps the general formula for reference but defines the
// smart-card control codes as 0x42000000 + code (its SCARD_CTL_CODE).
constexpr std::uint32_t CtlCode(std::uint32_t deviceType, std::uint32_t function,
                                std::uint32_t method, std::uint32_t access) {
    return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr std::uint32_t SmartCardCtlCode(std::uint32_t code) {
    return 0x42000000u + code;
}

using NativeLong = long;
using NativeDword = unsigned long;
using NativeHandle = long;
using NativeText = const char*;
using NativeTextBuffer = char*;

#endif

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

// Entry-point signatures of the platform library.
namespace entry {
using BeginTransaction = NativeLong(VARDEL_PCSC_API*)(NativeHandle);
using Cancel = NativeLong(VARDEL_PCSC_API*)(NativeHandle);
using Connect = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeText, NativeDword, NativeDword,
                                             NativeHandle*, NativeDword*);
using Control = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword, const void*, NativeDword,
                                             void*, NativeDword, NativeDword*);
using Disconnect = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword);
using EndTransaction = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword);
using EstablishContext = NativeLong(VARDEL_PCSC_API*)(NativeDword, const void*, const void*,
                                                      NativeHandle*);
using FreeMemory = NativeLong(VARDEL_PCSC_API*)(NativeHandle, const void*);
using GetAttrib = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword, unsigned char*,
                                               NativeDword*);
using GetProviderId = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeText, void*);
using GetStatusChange = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword, NativeReaderState*,
                                                     NativeDword);
using ListReaders = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeText, NativeTextBuffer,
                                                 NativeDword*);
using ListCards = NativeLong(VARDEL_PCSC_API*)(NativeHandle, const unsigned char*, const void*,
                                               NativeDword, NativeTextBuffer, NativeDword*);
using ListInterfaces = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeText, void*, NativeDword*);
using ListReaderGroups = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeTextBuffer,
                                                      NativeDword*);
using LocateCards = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeText, NativeReaderState*,
                                                 NativeDword);
using Reconnect = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword, NativeDword, NativeDword,
                                               NativeDword*);
using ReleaseContext = NativeLong(VARDEL_PCSC_API*)(NativeHandle);
using Transmit = NativeLong(VARDEL_PCSC_API*)(NativeHandle, const NativeIoRequest*,
                                              const unsigned char*, NativeDword, NativeIoRequest*,
                                              unsigned char*, NativeDword*);
using SetAttrib = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword, const unsigned char*,
                                               NativeDword);
using Status = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeTextBuffer, NativeDword*,
                                            NativeDword*, NativeDword*, unsigned char*,
                                            NativeDword*);
using IsValidContext = NativeLong(VARDEL_PCSC_API*)(NativeHandle);
// The 8-bit reader listing (SCardListReadersA on Windows, where the names are
// in the ANSI code page; pcsc-lite's only listing, in UTF-8).
using ListReadersAnsi = NativeLong(VARDEL_PCSC_API*)(NativeHandle, const char*, char*,
                                                     NativeDword*);
}  // namespace entry

// Exported names: text-carrying entry points in their wide form where the
// platform has one.
namespace exports {
#if defined(VARDEL_PCSC_WINSCARD)
#define VARDEL_PCSC_TEXT_EXPORT(name) name "W"
#else
#define VARDEL_PCSC_TEXT_EXPORT(name) name
#endif
inline constexpr const char* kBeginTransaction = "SCardBeginTransaction";
inline constexpr const char* kCancel = "SCardCancel";
inline constexpr const char* kConnect = VARDEL_PCSC_TEXT_EXPORT("SCardConnect");
inline constexpr const char* kControl = "SCardControl";
inline constexpr const char* kDisconnect = "SCardDisconnect";
inline constexpr const char* kEndTransaction = "SCardEndTransaction";
inline constexpr const char* kEstablishContext = "SCardEstablishContext";
inline constexpr const char* kFreeMemory = "SCardFreeMemory";
inline constexpr const char* kGetAttrib = "SCardGetAttrib";
inline constexpr const char* kGetProviderId = VARDEL_PCSC_TEXT_EXPORT("SCardGetProviderId");
inline constexpr const char* kGetStatusChange = VARDEL_PCSC_TEXT_EXPORT("SCardGetStatusChange");
inline constexpr const char* kListReaders = VARDEL_PCSC_TEXT_EXPORT("SCardListReaders");
inline constexpr const char* kListCards = VARDEL_PCSC_TEXT_EXPORT("SCardListCards");
inline constexpr const char* kListInterfaces = VARDEL_PCSC_TEXT_EXPORT("SCardListInterfaces");
inline constexpr const char* kListReaderGroups = VARDEL_PCSC_TEXT_EXPORT("SCardListReaderGroups");
inline constexpr const char* kLocateCards = VARDEL_PCSC_TEXT_EXPORT("SCardLocateCards");
inline constexpr const char* kReconnect = "SCardReconnect";
inline constexpr const char* kReleaseContext = "SCardReleaseContext";
inline constexpr const char* kTransmit = "SCardTransmit";
inline constexpr const char* kSetAttrib = "SCardSetAttrib";
inline constexpr const char* kStatus = VARDEL_PCSC_TEXT_EXPORT("SCardStatus");
#if defined(VARDEL_PCSC_WINSCARD)
inline constexpr const char* kListReadersAnsi = "SCardListReadersA";
#else
inline constexpr const char* kListReadersAnsi = "SCardListReaders";
#endif
#undef VARDEL_PCSC_TEXT_EXPORT
}  // namespace exports

// ---- Loading the smart-card library ---------------------------------------

using ModuleHandle = std::uintptr_t;

// The environment variable that names another smart-card library file to
// load instead of the system's (tests, and diagnosing a vendor library).
inline constexpr const char* kLibraryOverrideVariable = "VARDEL_PCSC_LIBRARY";

// The file the binding loads: the override when set, else the system's
// library (winscard.dll from the system directory only, libpcsclite.so.1).
std::string SmartCardLibraryPath();

// Loads the smart-card library; 0 when it cannot be loaded.
ModuleHandle LoadSmartCardLibrary();
// Address of an export, or nullptr when the library does not export it.
void* FindExport(ModuleHandle module, const char* name);
void FreeModule(ModuleHandle module);
// Why the last load failed, for reports ("" when unknown).
std::string LastLoadError();

// ---- Text ------------------------------------------------------------------

// UTF-16 <-> UTF-8. Ill-formed input is never dropped silently: an unpaired
// surrogate or an invalid byte becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
// Text from the smart-card library's 8-bit entry points: the ANSI code page
// on Windows, UTF-8 on pcsc-lite.
std::u16string AnsiToUtf16(std::string_view text);
#if defined(VARDEL_PCSC_WINSCARD)
std::u16string AnsiCodePageToUtf16(std::string_view text);  // MultiByteToWideChar(CP_ACP)
// WideCharToMultiByte(CP_ACP), without best-fit characters; nullopt when a
// character has no form of its own in the code page.
std::optional<std::string> Utf16ToAnsiCodePage(std::u16string_view text);
#endif

// ---- Names -----------------------------------------------------------------

// pcsc-lite hands reader names over as bytes, exactly as a driver or a
// reader.conf wrote them, and only those bytes name the reader in later
// calls. Its wrappers therefore turn names into UTF-16 and back losslessly:
// UTF-8 sequences become their characters, and every byte that is not part
// of one becomes U+DC80 to U+DCFF (an unpaired low surrogate, which no UTF-8
// text can give), so that NameToBytes(NameFromBytes(b)) == b for any bytes.
// Windows gives names as UTF-16: nothing there is ever such a byte.
inline constexpr bool kNamesAreBytes = !kHasWideEntryPoints;
std::u16string NameFromBytes(std::string_view bytes);
// UTF-8, but U+DC80 to U+DCFF standing alone go back to the byte they hold;
// any other unpaired surrogate becomes U+FFFD.
std::string NameToBytes(std::u16string_view name);
// True when the name holds a byte that was not UTF-8 (U+DC80 to U+DCFF
// standing alone).
bool HasUndecodedBytes(std::u16string_view name);
// The bytes the 8-bit listing gives for a reader that the service's listing
// names `name`: on pcsc-lite the name's own bytes; on Windows its form in the
// ANSI code page, nullopt when it has none (a character outside the code
// page reaches the 8-bit listing as some other one).
std::optional<std::string> NameToAnsiBytes(std::u16string_view name);

}  // namespace pcsc::platform
