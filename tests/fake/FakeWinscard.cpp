// A fake winscard.dll for the Windows build's tests: Windows' entry points
// (UTF-16 ones ending in W, the 8-bit SCardListReadersA), records and values,
// declared by MinGW's own <winscard.h> so that the compiler holds every
// exported signature to the platform's. It answers what the tests set up
// through the control functions of FakePcscControl.h, like the pcsc-lite fake
// does on Linux.
//
// Names given to the control functions are UTF-8; the W entry points see them
// in UTF-16, SCardListReadersA in the ANSI code page. A call is counted, its
// arguments recorded and a forced result looked up both under its exported
// name ("SCardConnectW") and under its name without the W or A
// ("SCardConnect"), so tests written against either fake read the same.
//
// The state and what each call does with it are FakeCore's (FakeCore.h); this
// file keeps Windows' signatures and records, the conversions of names, and
// the calls pcsc-lite has not.
//
// Built in variants: FAKE_PCSC_NO_STATUS leaves out SCardStatusW,
// FAKE_PCSC_NO_GETSTATUSCHANGE leaves out SCardGetStatusChangeW and
// FAKE_PCSC_NO_LISTREADERS leaves out SCardListReadersW and SCardListReadersA.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winscard.h>

#include <cwctype>
#include <optional>
#include <string>

#include "FakeCore.h"
#include "Win32Text.h"

namespace core = fake::core;

namespace {

static_assert(sizeof(SCARD_READERSTATEW::rgbAtr) == 36,
              "Windows' reader state carries 36 ATR bytes");

using win32text::Wide;

std::string Utf8Of(LPCWSTR text) {
    return text ? win32text::Narrow(text) : std::string();
}

// The names of SCARD_READERSTATEW records.
struct WideNames {
    static bool IsNotification(LPCWSTR name) {
        static const wchar_t kNotification[] = L"\\\\?PnP?\\Notification";
        if (!name) return false;
        std::size_t i = 0;
        for (; kNotification[i] && name[i]; ++i) {
            if (std::towlower(kNotification[i]) != std::towlower(name[i])) return false;
        }
        return kNotification[i] == name[i];
    }
    static std::string Utf8(LPCWSTR name) { return Utf8Of(name); }
};

// A UTF-8 multi-string converted piece by piece, NULs kept.
template <typename Convert>
[[maybe_unused]] auto MultiString(const std::string& utf8, Convert convert) {
    decltype(convert(std::string())) out;
    std::size_t start = 0;
    while (start <= utf8.size()) {
        std::size_t end = utf8.find('\0', start);
        if (end == std::string::npos) end = utf8.size();
        out += convert(utf8.substr(start, end - start));
        if (end < utf8.size()) out.push_back(0);
        start = end + 1;
    }
    return out;
}

// The smart-card database's calls: this fake knows no card.
LONG UnknownCard(core::State& s, const char* exported, SCARDCONTEXT hContext) {
    if (auto forced = core::Enter(s, exported)) return *forced;
    if (const LONG status = core::CheckContext(s, hContext)) return status;
    return SCARD_E_UNKNOWN_CARD;
}

}  // namespace

// ---- winscard.dll's API ----------------------------------------------------------

FAKE_EXPORT LONG WINAPI SCardEstablishContext(DWORD dwScope, LPCVOID, LPCVOID,
                                              LPSCARDCONTEXT phContext) {
    return core::EstablishContext(dwScope, phContext);
}

FAKE_EXPORT LONG WINAPI SCardReleaseContext(SCARDCONTEXT hContext) {
    return core::ReleaseContext(hContext);
}

FAKE_EXPORT LONG WINAPI SCardIsValidContext(SCARDCONTEXT hContext) {
    return core::IsValidContext(hContext);
}

FAKE_EXPORT LONG WINAPI SCardConnectW(SCARDCONTEXT hContext, LPCWSTR szReader, DWORD dwShareMode,
                                      DWORD dwPreferredProtocols, LPSCARDHANDLE phCard,
                                      LPDWORD pdwActiveProtocol) {
    std::optional<std::string> reader;
    if (szReader) reader = Utf8Of(szReader);
    return core::Connect("SCardConnectW", hContext, reader, dwShareMode, dwPreferredProtocols,
                         phCard, pdwActiveProtocol);
}

FAKE_EXPORT LONG WINAPI SCardReconnect(SCARDHANDLE hCard, DWORD dwShareMode,
                                       DWORD dwPreferredProtocols, DWORD dwInitialization,
                                       LPDWORD pdwActiveProtocol) {
    return core::Reconnect(hCard, dwShareMode, dwPreferredProtocols, dwInitialization,
                           pdwActiveProtocol);
}

FAKE_EXPORT LONG WINAPI SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) {
    return core::Disconnect(hCard, dwDisposition);
}

FAKE_EXPORT LONG WINAPI SCardBeginTransaction(SCARDHANDLE hCard) {
    return core::BeginTransaction(hCard);
}

FAKE_EXPORT LONG WINAPI SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition) {
    return core::EndTransaction(hCard, dwDisposition);
}

#ifndef FAKE_PCSC_NO_STATUS
// Windows hands out the reader's names as a multi-string: two NULs.
FAKE_EXPORT LONG WINAPI SCardStatusW(SCARDHANDLE hCard, LPWSTR szReaderName, LPDWORD pcchReaderLen,
                                     LPDWORD pdwState, LPDWORD pdwProtocol, LPBYTE pbAtr,
                                     LPDWORD pcbAtrLen) {
    return core::Status("SCardStatusW", hCard, szReaderName, pcchReaderLen, pdwState, pdwProtocol,
                        pbAtr, pcbAtrLen, [](const std::string& name) {
                            std::wstring names = Wide(name);
                            names.push_back(L'\0');
                            names.push_back(L'\0');
                            return names;
                        });
}
#endif

#ifndef FAKE_PCSC_NO_GETSTATUSCHANGE
FAKE_EXPORT LONG WINAPI SCardGetStatusChangeW(SCARDCONTEXT hContext, DWORD dwTimeout,
                                              LPSCARD_READERSTATEW rgReaderStates, DWORD cReaders) {
    return core::GetStatusChange("SCardGetStatusChangeW", hContext, dwTimeout, rgReaderStates,
                                 cReaders, WideNames());
}
#endif

FAKE_EXPORT LONG WINAPI SCardCancel(SCARDCONTEXT hContext) {
    return core::Cancel(hContext);
}

#ifndef FAKE_PCSC_NO_LISTREADERS
FAKE_EXPORT LONG WINAPI SCardListReadersW(SCARDCONTEXT hContext, LPCWSTR mszGroups,
                                          LPWSTR mszReaders, LPDWORD pcchReaders) {
    return core::ListReaders("SCardListReadersW", hContext, mszGroups != nullptr, mszReaders,
                             pcchReaders,
                             [](const std::string& list, bool) { return MultiString(list, Wide); });
}

FAKE_EXPORT LONG WINAPI SCardListReadersA(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders,
                                          LPDWORD pcchReaders) {
    // Raw bytes a test set go out as they are; names go in the ANSI code page.
    return core::ListReaders("SCardListReadersA", hContext, mszGroups != nullptr, mszReaders,
                             pcchReaders, [](const std::string& list, bool raw) {
                                 if (raw) return list;
                                 return MultiString(list, [](const std::string& name) {
                                     return win32text::Narrow(Wide(name), CP_ACP);
                                 });
                             });
}
#endif

FAKE_EXPORT LONG WINAPI SCardListReaderGroupsW(SCARDCONTEXT hContext, LPWSTR mszGroups,
                                               LPDWORD pcchGroups) {
    return core::ListReaderGroups("SCardListReaderGroupsW", hContext,
                                  std::wstring(L"SCard$DefaultReaders\0\0", 22), mszGroups,
                                  pcchGroups);
}

FAKE_EXPORT LONG WINAPI SCardFreeMemory(SCARDCONTEXT, LPCVOID) {
    return core::FreeMemory();
}

FAKE_EXPORT LONG WINAPI SCardTransmit(SCARDHANDLE hCard, LPCSCARD_IO_REQUEST pioSendPci,
                                      LPCBYTE pbSendBuffer, DWORD cbSendLength,
                                      LPSCARD_IO_REQUEST pioRecvPci, LPBYTE pbRecvBuffer,
                                      LPDWORD pcbRecvLength) {
    return core::Transmit(hCard, pioSendPci, pbSendBuffer, cbSendLength, pioRecvPci, pbRecvBuffer,
                          pcbRecvLength);
}

FAKE_EXPORT LONG WINAPI SCardControl(SCARDHANDLE hCard, DWORD dwControlCode, LPCVOID,
                                     DWORD cbSendLength, LPVOID pbRecvBuffer, DWORD cbRecvLength,
                                     LPDWORD lpBytesReturned) {
    return core::Control(hCard, dwControlCode, cbSendLength, pbRecvBuffer, cbRecvLength,
                         lpBytesReturned);
}

FAKE_EXPORT LONG WINAPI SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr,
                                       LPDWORD pcbAttrLen) {
    return core::GetAttrib(hCard, dwAttrId, pbAttr, pcbAttrLen);
}

FAKE_EXPORT LONG WINAPI SCardSetAttrib(SCARDHANDLE hCard, DWORD, LPCBYTE, DWORD) {
    return core::SetAttrib(hCard);
}

// The smart-card database of Windows, which pcsc-lite has not: this fake
// knows no card, so each answers SCARD_E_UNKNOWN_CARD unless a test forces
// another result. Enough to see that the binding reaches them.
FAKE_EXPORT LONG WINAPI SCardLocateCardsW(SCARDCONTEXT hContext, LPCWSTR mszCards,
                                          LPSCARD_READERSTATEW, DWORD cReaders) {
    core::State& s = core::S();
    core::Lock lock(s.mutex);
    core::Arg(s, "SCardLocateCardsW", 3, cReaders);
    core::Text(s, "SCardLocateCardsW", Utf8Of(mszCards));
    return UnknownCard(s, "SCardLocateCardsW", hContext);
}

FAKE_EXPORT LONG WINAPI SCardListCardsW(SCARDCONTEXT hContext, LPCBYTE, LPCGUID, DWORD cguid,
                                        LPWSTR, LPDWORD) {
    core::State& s = core::S();
    core::Lock lock(s.mutex);
    core::Arg(s, "SCardListCardsW", 3, cguid);
    return UnknownCard(s, "SCardListCardsW", hContext);
}

FAKE_EXPORT LONG WINAPI SCardListInterfacesW(SCARDCONTEXT hContext, LPCWSTR szCard, LPGUID,
                                             LPDWORD) {
    core::State& s = core::S();
    core::Lock lock(s.mutex);
    core::Text(s, "SCardListInterfacesW", Utf8Of(szCard));
    return UnknownCard(s, "SCardListInterfacesW", hContext);
}

FAKE_EXPORT LONG WINAPI SCardGetProviderIdW(SCARDCONTEXT hContext, LPCWSTR szCard, LPGUID) {
    core::State& s = core::S();
    core::Lock lock(s.mutex);
    core::Text(s, "SCardGetProviderIdW", Utf8Of(szCard));
    return UnknownCard(s, "SCardGetProviderIdW", hContext);
}
