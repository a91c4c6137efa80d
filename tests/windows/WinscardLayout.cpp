// The platform's own declarations against ours: this file sees MinGW's
// <winscard.h> and the platform header, never PCSCDef.h (whose names
// <winscard.h> defines as macros). The wrappers' file holds TSCardReaderStateA
// and TSCardIoRequest to the platform records declared in Platform.h; here
// those are held to Windows' SCARD_READERSTATEW and SCARD_IO_REQUEST, so the
// library's records are Windows' own, field for field.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "pcsc/platform/Platform.h"

#include <windows.h>
#include <winscard.h>

#include <cstddef>
#include <string>
#include <type_traits>

#include "WinscardLayout.h"

namespace {

using pcsc::platform::NativeIoRequest;
using pcsc::platform::NativeReaderState;

#if defined(_WIN64)
static_assert(sizeof(SCARD_READERSTATEW) == 64, "64 bytes on x64");
static_assert(offsetof(SCARD_READERSTATEW, rgbAtr) == 28, "the ATR at 28 on x64");
#else
static_assert(sizeof(SCARD_READERSTATEW) == 56, "56 bytes on x86");
static_assert(offsetof(SCARD_READERSTATEW, rgbAtr) == 20, "the ATR at 20 on x86");
static_assert(sizeof(SCARDHANDLE) == 4 && sizeof(SCARDCONTEXT) == 4, "32-bit handles on x86");
#endif
static_assert(sizeof(NativeReaderState) == sizeof(SCARD_READERSTATEW));
static_assert(alignof(NativeReaderState) == alignof(SCARD_READERSTATEW));
static_assert(offsetof(NativeReaderState, szReader) == offsetof(SCARD_READERSTATEW, szReader));
static_assert(offsetof(NativeReaderState, pvUserData) == offsetof(SCARD_READERSTATEW, pvUserData));
static_assert(offsetof(NativeReaderState, dwCurrentState) ==
              offsetof(SCARD_READERSTATEW, dwCurrentState));
static_assert(offsetof(NativeReaderState, dwEventState) ==
              offsetof(SCARD_READERSTATEW, dwEventState));
static_assert(offsetof(NativeReaderState, cbAtr) == offsetof(SCARD_READERSTATEW, cbAtr));
static_assert(offsetof(NativeReaderState, rgbAtr) == offsetof(SCARD_READERSTATEW, rgbAtr));
static_assert(sizeof(NativeReaderState::rgbAtr) == sizeof(SCARD_READERSTATEW::rgbAtr));
static_assert(sizeof(NativeIoRequest) == sizeof(SCARD_IO_REQUEST));
static_assert(offsetof(NativeIoRequest, dwProtocol) == offsetof(SCARD_IO_REQUEST, dwProtocol));
static_assert(offsetof(NativeIoRequest, cbPciLength) == offsetof(SCARD_IO_REQUEST, cbPciLength));
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 texts pass as they are");
static_assert(sizeof(pcsc::platform::NativeHandle) == sizeof(SCARDCONTEXT));
static_assert(sizeof(pcsc::platform::NativeHandle) == sizeof(SCARDHANDLE));
static_assert(sizeof(pcsc::platform::NativeDword) == sizeof(DWORD));
static_assert(sizeof(pcsc::platform::NativeLong) == sizeof(LONG));
static_assert(std::is_signed_v<pcsc::platform::NativeLong> == std::is_signed_v<LONG>);

// The values Windows publishes under the names the library uses.
static_assert(pcsc::platform::kProtocolRaw == SCARD_PROTOCOL_RAW);
static_assert(pcsc::platform::kUnsupportedFeature ==
              static_cast<DWORD>(SCARD_E_UNSUPPORTED_FEATURE));
static_assert(pcsc::platform::SmartCardCtlCode(2049) == SCARD_CTL_CODE(2049));
static_assert(pcsc::platform::SmartCardCtlCode(0) == SCARD_CTL_CODE(0));

// Each entry point the binding calls has the platform's signature, argument
// for argument (types of the same size and kind; LONG and DWORD are long on
// Windows where the library says std::int32_t and std::uint32_t).
template <typename Ours, typename Theirs>
struct SameShape : std::false_type {};
template <typename R1, typename... A1, typename R2, typename... A2>
struct SameShape<R1(WINAPI*)(A1...), R2(WINAPI*)(A2...)>
    : std::bool_constant<sizeof...(A1) == sizeof...(A2) && sizeof(R1) == sizeof(R2) &&
                         ((sizeof(A1) == sizeof(A2) &&
                           std::is_pointer_v<A1> == std::is_pointer_v<A2>)&&...)> {};

namespace entry = pcsc::platform::entry;
static_assert(SameShape<entry::EstablishContext, decltype(&::SCardEstablishContext)>::value);
static_assert(SameShape<entry::ReleaseContext, decltype(&::SCardReleaseContext)>::value);
static_assert(SameShape<entry::Connect, decltype(&::SCardConnectW)>::value);
static_assert(SameShape<entry::Reconnect, decltype(&::SCardReconnect)>::value);
static_assert(SameShape<entry::Disconnect, decltype(&::SCardDisconnect)>::value);
static_assert(SameShape<entry::BeginTransaction, decltype(&::SCardBeginTransaction)>::value);
static_assert(SameShape<entry::EndTransaction, decltype(&::SCardEndTransaction)>::value);
static_assert(SameShape<entry::Status, decltype(&::SCardStatusW)>::value);
static_assert(SameShape<entry::GetStatusChange, decltype(&::SCardGetStatusChangeW)>::value);
static_assert(SameShape<entry::Cancel, decltype(&::SCardCancel)>::value);
static_assert(SameShape<entry::ListReaders, decltype(&::SCardListReadersW)>::value);
static_assert(SameShape<entry::ListReadersAnsi, decltype(&::SCardListReadersA)>::value);
static_assert(SameShape<entry::ListReaderGroups, decltype(&::SCardListReaderGroupsW)>::value);
static_assert(SameShape<entry::ListCards, decltype(&::SCardListCardsW)>::value);
static_assert(SameShape<entry::ListInterfaces, decltype(&::SCardListInterfacesW)>::value);
static_assert(SameShape<entry::GetProviderId, decltype(&::SCardGetProviderIdW)>::value);
static_assert(SameShape<entry::LocateCards, decltype(&::SCardLocateCardsW)>::value);
static_assert(SameShape<entry::FreeMemory, decltype(&::SCardFreeMemory)>::value);
static_assert(SameShape<entry::Transmit, decltype(&::SCardTransmit)>::value);
static_assert(SameShape<entry::Control, decltype(&::SCardControl)>::value);
static_assert(SameShape<entry::GetAttrib, decltype(&::SCardGetAttrib)>::value);
static_assert(SameShape<entry::SetAttrib, decltype(&::SCardSetAttrib)>::value);
static_assert(SameShape<entry::IsValidContext, decltype(&::SCardIsValidContext)>::value);

}  // namespace

namespace layout {

std::string ModulePath(std::uintptr_t module) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(module), path, MAX_PATH);
    return pcsc::Utf16ToUtf8(std::u16string(path, path + length));
}

std::string SystemDirectory() {
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return pcsc::Utf16ToUtf8(std::u16string(path, path + length));
}

unsigned AnsiCodePage() {
    return GetACP();
}

}  // namespace layout
