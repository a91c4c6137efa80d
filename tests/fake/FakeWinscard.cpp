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
// Built in variants: FAKE_PCSC_NO_STATUS leaves out SCardStatusW,
// FAKE_PCSC_NO_GETSTATUSCHANGE leaves out SCardGetStatusChangeW and
// FAKE_PCSC_NO_LISTREADERS leaves out SCardListReadersW and SCardListReadersA.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FakePcscControl.h"

#define FAKE_EXPORT extern "C" __declspec(dllexport)

namespace {

constexpr std::size_t kMaxAtr = sizeof(SCARD_READERSTATEW::rgbAtr);
static_assert(kMaxAtr == 36, "Windows' reader state carries 36 ATR bytes");

struct Reader {
    std::string name;  // UTF-8
    DWORD state = SCARD_STATE_EMPTY;
    std::vector<unsigned char> atr;
    DWORD events = 0;  // card events, reported in the high 16 bits
    DWORD protocol = SCARD_PROTOCOL_T1;
    std::vector<unsigned char> response{0x90, 0x00};
    std::map<DWORD, std::vector<unsigned char>> attributes;
    std::optional<std::vector<unsigned char>> controlReply;
};

struct Context {
    unsigned generation;
    bool cancelled = false;
};

struct Card {
    unsigned generation;
    std::string reader;
    DWORD shareMode;
};

struct Forced {
    LONG code;
    int times;  // < 0: for ever
    bool bufferOnly;
    bool sizeOnly;
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;
    bool serviceUp = true;
    unsigned generation = 1;
    std::vector<Reader> readers;
    DWORD readerEvents = 0;
    std::optional<std::string> rawList;
    int pnpMode = 0;
    ULONG_PTR nextHandle = 0x1000;
    std::map<ULONG_PTR, Context> contexts;
    std::map<ULONG_PTR, Card> cards;
    std::map<std::string, std::vector<Forced>> forced;
    std::map<std::string, long> calls;
    std::map<std::string, std::map<int, unsigned long long>> lastArgs;
    std::map<std::string, std::string> lastText;
};

State& S() {
    static State state;
    return state;
}

using Lock = std::unique_lock<std::mutex>;

// The name of an entry point without its W or A.
std::string Family(const std::string& exported) {
    if (exported.size() > 1 && (exported.back() == 'W' || exported.back() == 'A'))
        return exported.substr(0, exported.size() - 1);
    return exported;
}

std::optional<LONG> TakeForced(State& s, const std::string& name, bool hasBuffer) {
    auto it = s.forced.find(name);
    if (it == s.forced.end()) return std::nullopt;
    for (auto f = it->second.begin(); f != it->second.end(); ++f) {
        if ((f->bufferOnly && !hasBuffer) || (f->sizeOnly && hasBuffer)) continue;
        const LONG code = f->code;
        if (f->times > 0 && --f->times == 0) it->second.erase(f);
        return code;
    }
    return std::nullopt;
}

// Counts the call and answers a forced result if one applies (the exported
// name's first).
std::optional<LONG> Enter(State& s, const std::string& exported, bool hasBuffer = false) {
    const std::string family = Family(exported);
    ++s.calls[exported];
    if (family != exported) ++s.calls[family];
    if (auto code = TakeForced(s, exported, hasBuffer)) return code;
    if (family != exported) return TakeForced(s, family, hasBuffer);
    return std::nullopt;
}

void Arg(State& s, const std::string& exported, int position, unsigned long long value) {
    s.lastArgs[exported][position] = value;
    const std::string family = Family(exported);
    if (family != exported) s.lastArgs[family][position] = value;
}

void Text(State& s, const std::string& exported, const std::string& text) {
    s.lastText[exported] = text;
    s.lastText[Family(exported)] = text;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

[[maybe_unused]] std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::string Utf8Of(LPCWSTR text) { return text ? ToUtf8(text) : std::string(); }

LONG CheckContext(State& s, SCARDCONTEXT context) {
    auto it = s.contexts.find(context);
    if (it == s.contexts.end()) return SCARD_E_INVALID_HANDLE;
    if (!s.serviceUp || it->second.generation != s.generation) return SCARD_E_NO_SERVICE;
    return SCARD_S_SUCCESS;
}

Card* FindCard(State& s, SCARDHANDLE card, LONG& status) {
    auto it = s.cards.find(card);
    if (it == s.cards.end()) {
        status = SCARD_E_INVALID_HANDLE;
        return nullptr;
    }
    if (!s.serviceUp || it->second.generation != s.generation) {
        status = SCARD_E_NO_SERVICE;
        return nullptr;
    }
    status = SCARD_S_SUCCESS;
    return &it->second;
}

Reader* FindReader(State& s, const std::string& name) {
    for (Reader& r : s.readers) {
        if (r.name == name) return &r;
    }
    return nullptr;
}

// The state flags the service reports: what the test set, plus the sharing
// flags that the open connections imply.
DWORD ReportedState(State& s, const Reader& r) {
    DWORD flags = r.state & 0xFFFF;
    if (!(flags & SCARD_STATE_PRESENT)) return flags;
    bool shared = false;
    bool exclusive = false;
    for (const auto& [handle, card] : s.cards) {
        if (card.reader != r.name || card.generation != s.generation) continue;
        if (card.shareMode == SCARD_SHARE_EXCLUSIVE) exclusive = true;
        if (card.shareMode == SCARD_SHARE_SHARED) shared = true;
    }
    if (exclusive) flags |= SCARD_STATE_EXCLUSIVE;
    if (shared) flags |= SCARD_STATE_INUSE;
    return flags;
}

// The reader multi-string in UTF-8 (or the raw bytes a test set).
[[maybe_unused]] std::string ReaderList(State& s) {
    if (s.rawList) return *s.rawList;
    std::string list;
    for (const Reader& r : s.readers) {
        list += r.name;
        list.push_back('\0');
    }
    list.push_back('\0');
    return list;
}

// A UTF-8 multi-string converted piece by piece, NULs kept.
template <typename Convert>
auto MultiString(const std::string& utf8, Convert convert) {
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

template <typename Char>
LONG CopyOut(const std::basic_string<Char>& data, Char* buffer, LPDWORD size) {
    const DWORD needed = static_cast<DWORD>(data.size());
    if (!buffer) {
        *size = needed;
        return SCARD_S_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::copy(data.begin(), data.end(), buffer);
    *size = needed;
    return SCARD_S_SUCCESS;
}

LONG CopyBytes(const std::vector<unsigned char>& data, LPBYTE buffer, LPDWORD size) {
    const DWORD needed = static_cast<DWORD>(data.size());
    if (!buffer) {
        *size = needed;
        return SCARD_S_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::copy(data.begin(), data.end(), buffer);
    *size = needed;
    return SCARD_S_SUCCESS;
}

[[maybe_unused]] bool IsNotification(LPCWSTR name) {
    static const wchar_t kNotification[] = L"\\\\?PnP?\\Notification";
    if (!name) return false;
    std::size_t i = 0;
    for (; kNotification[i] && name[i]; ++i) {
        if (std::towlower(kNotification[i]) != std::towlower(name[i])) return false;
    }
    return kNotification[i] == name[i];
}

}  // namespace

// ---- Control ---------------------------------------------------------------

FAKE_EXPORT void fake_pcsc_reset() {
    State& s = S();
    Lock lock(s.mutex);
    s.serviceUp = true;
    ++s.generation;
    s.readers.clear();
    s.readerEvents = 0;
    s.rawList.reset();
    s.pnpMode = 0;
    s.contexts.clear();
    s.cards.clear();
    s.forced.clear();
    s.calls.clear();
    s.lastArgs.clear();
    s.lastText.clear();
    s.changed.notify_all();
}

FAKE_EXPORT void fake_pcsc_set_service(int up) {
    State& s = S();
    Lock lock(s.mutex);
    if (up && !s.serviceUp) ++s.generation;
    s.serviceUp = up != 0;
    s.changed.notify_all();
}

FAKE_EXPORT void fake_pcsc_add_reader(const char* name) {
    State& s = S();
    Lock lock(s.mutex);
    Reader reader;
    reader.name = name;
    s.readers.push_back(reader);
    ++s.readerEvents;
    s.changed.notify_all();
}

FAKE_EXPORT void fake_pcsc_remove_reader(const char* name) {
    State& s = S();
    Lock lock(s.mutex);
    s.readers.erase(std::remove_if(s.readers.begin(), s.readers.end(),
                                   [&](const Reader& r) { return r.name == name; }),
                    s.readers.end());
    ++s.readerEvents;
    s.changed.notify_all();
}

FAKE_EXPORT void fake_pcsc_set_reader_state(const char* name, unsigned long state,
                                            const unsigned char* atr, std::size_t atrLen) {
    State& s = S();
    Lock lock(s.mutex);
    if (Reader* r = FindReader(s, name)) {
        r->state = state;
        r->atr.assign(atr, atr + atrLen);
        ++r->events;
    }
    s.changed.notify_all();
}

FAKE_EXPORT void fake_pcsc_set_response(const char* name, const unsigned char* data,
                                        std::size_t len) {
    State& s = S();
    Lock lock(s.mutex);
    if (Reader* r = FindReader(s, name)) r->response.assign(data, data + len);
}

FAKE_EXPORT void fake_pcsc_set_card_protocol(const char* name, unsigned long protocol) {
    State& s = S();
    Lock lock(s.mutex);
    if (Reader* r = FindReader(s, name)) r->protocol = protocol;
}

FAKE_EXPORT void fake_pcsc_set_attrib(const char* name, unsigned long id,
                                      const unsigned char* data, std::size_t len) {
    State& s = S();
    Lock lock(s.mutex);
    if (Reader* r = FindReader(s, name)) r->attributes[id].assign(data, data + len);
}

FAKE_EXPORT void fake_pcsc_set_control_reply(const char* name, const unsigned char* data,
                                             std::size_t len) {
    State& s = S();
    Lock lock(s.mutex);
    if (Reader* r = FindReader(s, name)) r->controlReply.emplace(data, data + len);
}

FAKE_EXPORT void fake_pcsc_force_result(const char* entry, long code, int times) {
    State& s = S();
    Lock lock(s.mutex);
    std::string name = entry;
    bool bufferOnly = false;
    bool sizeOnly = false;
    if (const auto plus = name.find("+buffer"); plus != std::string::npos) {
        name.erase(plus);
        bufferOnly = true;
    } else if (const auto size = name.find("+size"); size != std::string::npos) {
        name.erase(size);
        sizeOnly = true;
    }
    if (times == 0) return;
    s.forced[name].push_back(Forced{static_cast<LONG>(code), times, bufferOnly, sizeOnly});
}

FAKE_EXPORT void fake_pcsc_set_raw_reader_list(const char* data, std::size_t len) {
    State& s = S();
    Lock lock(s.mutex);
    if (data)
        s.rawList.emplace(data, len);
    else
        s.rawList.reset();
}

FAKE_EXPORT void fake_pcsc_set_pnp_mode(int mode) {
    State& s = S();
    Lock lock(s.mutex);
    s.pnpMode = mode;
}

FAKE_EXPORT long fake_pcsc_calls(const char* entry) {
    State& s = S();
    Lock lock(s.mutex);
    auto it = s.calls.find(entry);
    return it == s.calls.end() ? 0 : it->second;
}

FAKE_EXPORT unsigned long long fake_pcsc_last_arg(const char* entry, int position) {
    State& s = S();
    Lock lock(s.mutex);
    return s.lastArgs[entry][position];
}

FAKE_EXPORT const char* fake_pcsc_last_text(const char* entry) {
    State& s = S();
    Lock lock(s.mutex);
    return s.lastText[entry].c_str();
}

FAKE_EXPORT long fake_pcsc_open_contexts() {
    State& s = S();
    Lock lock(s.mutex);
    return static_cast<long>(s.contexts.size());
}

// ---- winscard.dll's API ----------------------------------------------------------

FAKE_EXPORT LONG WINAPI SCardEstablishContext(DWORD dwScope, LPCVOID, LPCVOID,
                                              LPSCARDCONTEXT phContext) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardEstablishContext", 0, dwScope);
    if (auto forced = Enter(s, "SCardEstablishContext")) return *forced;
    if (!s.serviceUp) return SCARD_E_NO_SERVICE;
    if (dwScope != SCARD_SCOPE_USER && dwScope != SCARD_SCOPE_SYSTEM) return SCARD_E_INVALID_VALUE;
    const ULONG_PTR handle = s.nextHandle;
    s.nextHandle += 0x11;
    s.contexts[handle] = Context{s.generation};
    *phContext = handle;
    return SCARD_S_SUCCESS;
}

FAKE_EXPORT LONG WINAPI SCardReleaseContext(SCARDCONTEXT hContext) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardReleaseContext", 0, hContext);
    if (auto forced = Enter(s, "SCardReleaseContext")) return *forced;
    const LONG status = CheckContext(s, hContext);
    if (status == SCARD_E_INVALID_HANDLE) return status;
    s.contexts.erase(hContext);
    return status;
}

FAKE_EXPORT LONG WINAPI SCardIsValidContext(SCARDCONTEXT hContext) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardIsValidContext")) return *forced;
    return s.contexts.count(hContext) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

FAKE_EXPORT LONG WINAPI SCardConnectW(SCARDCONTEXT hContext, LPCWSTR szReader, DWORD dwShareMode,
                                      DWORD dwPreferredProtocols, LPSCARDHANDLE phCard,
                                      LPDWORD pdwActiveProtocol) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardConnectW", 2, dwShareMode);
    Arg(s, "SCardConnectW", 3, dwPreferredProtocols);
    Text(s, "SCardConnectW", Utf8Of(szReader));
    if (auto forced = Enter(s, "SCardConnectW")) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    Reader* reader = szReader ? FindReader(s, Utf8Of(szReader)) : nullptr;
    if (!reader) return SCARD_E_UNKNOWN_READER;
    DWORD active = SCARD_PROTOCOL_UNDEFINED;
    if (dwShareMode != SCARD_SHARE_DIRECT) {
        const DWORD flags = ReportedState(s, *reader);
        if (!(flags & SCARD_STATE_PRESENT)) return SCARD_E_NO_SMARTCARD;
        if (flags & SCARD_STATE_MUTE) return SCARD_W_UNRESPONSIVE_CARD;
        if (flags & SCARD_STATE_EXCLUSIVE) return SCARD_E_SHARING_VIOLATION;
        if (dwShareMode == SCARD_SHARE_EXCLUSIVE && (flags & SCARD_STATE_INUSE))
            return SCARD_E_SHARING_VIOLATION;
        if (!(dwPreferredProtocols & reader->protocol)) return SCARD_E_PROTO_MISMATCH;
        active = reader->protocol;
    }
    const ULONG_PTR handle = s.nextHandle;
    s.nextHandle += 0x11;
    s.cards[handle] = Card{s.generation, reader->name, dwShareMode};
    *phCard = handle;
    *pdwActiveProtocol = active;
    s.changed.notify_all();
    return SCARD_S_SUCCESS;
}

FAKE_EXPORT LONG WINAPI SCardReconnect(SCARDHANDLE hCard, DWORD dwShareMode,
                                       DWORD dwPreferredProtocols, DWORD dwInitialization,
                                       LPDWORD pdwActiveProtocol) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardReconnect", 1, dwShareMode);
    Arg(s, "SCardReconnect", 2, dwPreferredProtocols);
    Arg(s, "SCardReconnect", 3, dwInitialization);
    if (auto forced = Enter(s, "SCardReconnect")) return *forced;
    LONG status;
    Card* card = FindCard(s, hCard, status);
    if (!card) return status;
    Reader* reader = FindReader(s, card->reader);
    if (!reader) return SCARD_E_READER_UNAVAILABLE;
    if (!(dwPreferredProtocols & reader->protocol)) return SCARD_E_PROTO_MISMATCH;
    card->shareMode = dwShareMode;
    *pdwActiveProtocol = reader->protocol;
    return SCARD_S_SUCCESS;
}

FAKE_EXPORT LONG WINAPI SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardDisconnect", 1, dwDisposition);
    if (auto forced = Enter(s, "SCardDisconnect")) return *forced;
    LONG status;
    if (!FindCard(s, hCard, status)) return status;
    s.cards.erase(hCard);
    s.changed.notify_all();
    return SCARD_S_SUCCESS;
}

FAKE_EXPORT LONG WINAPI SCardBeginTransaction(SCARDHANDLE hCard) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardBeginTransaction")) return *forced;
    LONG status;
    FindCard(s, hCard, status);
    return status;
}

FAKE_EXPORT LONG WINAPI SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardEndTransaction", 1, dwDisposition);
    if (auto forced = Enter(s, "SCardEndTransaction")) return *forced;
    LONG status;
    FindCard(s, hCard, status);
    return status;
}

#ifndef FAKE_PCSC_NO_STATUS
FAKE_EXPORT LONG WINAPI SCardStatusW(SCARDHANDLE hCard, LPWSTR szReaderName,
                                     LPDWORD pcchReaderLen, LPDWORD pdwState,
                                     LPDWORD pdwProtocol, LPBYTE pbAtr, LPDWORD pcbAtrLen) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardStatusW")) return *forced;
    LONG status;
    Card* card = FindCard(s, hCard, status);
    if (!card) return status;
    Reader* reader = FindReader(s, card->reader);
    if (!reader) return SCARD_E_READER_UNAVAILABLE;
    if (pdwState) *pdwState = ReportedState(s, *reader);
    if (pdwProtocol) *pdwProtocol = card->shareMode == SCARD_SHARE_DIRECT ? 0 : reader->protocol;
    if (pcbAtrLen) {
        if (pbAtr && *pcbAtrLen < reader->atr.size()) return SCARD_E_INSUFFICIENT_BUFFER;
        if (pbAtr) std::copy(reader->atr.begin(), reader->atr.end(), pbAtr);
        *pcbAtrLen = static_cast<DWORD>(reader->atr.size());
    }
    if (!pcchReaderLen) return SCARD_S_SUCCESS;
    std::wstring names = FromUtf8(reader->name);
    names.push_back(L'\0');
    names.push_back(L'\0');
    return CopyOut(names, szReaderName, pcchReaderLen);
}
#endif

#ifndef FAKE_PCSC_NO_GETSTATUSCHANGE
FAKE_EXPORT LONG WINAPI SCardGetStatusChangeW(SCARDCONTEXT hContext, DWORD dwTimeout,
                                              LPSCARD_READERSTATEW rgReaderStates,
                                              DWORD cReaders) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardGetStatusChangeW", 1, dwTimeout);
    Arg(s, "SCardGetStatusChangeW", 3, cReaders);
    if (cReaders > 0 && rgReaderStates[0].szReader)
        Text(s, "SCardGetStatusChangeW", Utf8Of(rgReaderStates[0].szReader));
    if (auto forced = Enter(s, "SCardGetStatusChangeW")) return *forced;
    const std::size_t readersAtEntry = s.readers.size();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwTimeout);
    for (;;) {
        if (const LONG status = CheckContext(s, hContext)) return status;
        Context& context = s.contexts[hContext];
        if (context.cancelled) {
            context.cancelled = false;
            return SCARD_E_CANCELLED;
        }
        bool anyChange = false;
        for (DWORD i = 0; i < cReaders; ++i) {
            SCARD_READERSTATEW& rs = rgReaderStates[i];
            if (IsNotification(rs.szReader)) {
                bool change = false;
                DWORD counter = 0;
                if (s.pnpMode == 2) {
                    change = true;
                } else {
                    change = s.readers.size() != readersAtEntry;
                    if (s.pnpMode == 1) {
                        counter = s.readerEvents & 0xFFFF;
                        change = change || ((rs.dwCurrentState >> 16) & 0xFFFF) != counter;
                    }
                }
                rs.dwEventState = change ? (SCARD_STATE_CHANGED | (counter << 16)) : (counter << 16);
                anyChange = anyChange || change;
                continue;
            }
            Reader* reader = rs.szReader ? FindReader(s, Utf8Of(rs.szReader)) : nullptr;
            if (!reader) return SCARD_E_UNKNOWN_READER;
            const DWORD flags = ReportedState(s, *reader);
            const DWORD known = rs.dwCurrentState & 0xFFFF & ~DWORD{SCARD_STATE_CHANGED};
            const bool change = rs.dwCurrentState == SCARD_STATE_UNAWARE || known != flags;
            rs.dwEventState = flags | (change ? SCARD_STATE_CHANGED : 0) |
                              ((reader->events & 0xFFFF) << 16);
            const std::size_t atrLen = std::min(reader->atr.size(), kMaxAtr);
            rs.cbAtr = (flags & SCARD_STATE_PRESENT) ? static_cast<DWORD>(atrLen) : 0;
            std::copy_n(reader->atr.begin(), rs.cbAtr, rs.rgbAtr);
            anyChange = anyChange || change;
        }
        if (anyChange) return SCARD_S_SUCCESS;
        if (dwTimeout != INFINITE && s.changed.wait_until(lock, deadline) == std::cv_status::timeout)
            return SCARD_E_TIMEOUT;
        if (dwTimeout == INFINITE) s.changed.wait(lock);
    }
}
#endif

FAKE_EXPORT LONG WINAPI SCardCancel(SCARDCONTEXT hContext) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardCancel")) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    s.contexts[hContext].cancelled = true;
    s.changed.notify_all();
    return SCARD_S_SUCCESS;
}

#ifndef FAKE_PCSC_NO_LISTREADERS
FAKE_EXPORT LONG WINAPI SCardListReadersW(SCARDCONTEXT hContext, LPCWSTR mszGroups,
                                          LPWSTR mszReaders, LPDWORD pcchReaders) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardListReadersW", 1, mszGroups ? 1 : 0);
    Arg(s, "SCardListReadersW", 3, pcchReaders ? *pcchReaders : 0);
    if (auto forced = Enter(s, "SCardListReadersW", mszReaders != nullptr)) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    if (!s.rawList && s.readers.empty()) return SCARD_E_NO_READERS_AVAILABLE;
    return CopyOut(MultiString(ReaderList(s), FromUtf8), mszReaders, pcchReaders);
}

FAKE_EXPORT LONG WINAPI SCardListReadersA(SCARDCONTEXT hContext, LPCSTR mszGroups,
                                          LPSTR mszReaders, LPDWORD pcchReaders) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardListReadersA", 1, mszGroups ? 1 : 0);
    Arg(s, "SCardListReadersA", 3, pcchReaders ? *pcchReaders : 0);
    if (auto forced = Enter(s, "SCardListReadersA", mszReaders != nullptr)) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    if (!s.rawList && s.readers.empty()) return SCARD_E_NO_READERS_AVAILABLE;
    // Raw bytes a test set go out as they are; names go in the ANSI code page.
    const std::string list = s.rawList
                                 ? *s.rawList
                                 : MultiString(ReaderList(s), [](const std::string& name) {
                                       return ToAnsi(FromUtf8(name));
                                   });
    return CopyOut(list, mszReaders, pcchReaders);
}
#endif

FAKE_EXPORT LONG WINAPI SCardListReaderGroupsW(SCARDCONTEXT hContext, LPWSTR mszGroups,
                                               LPDWORD pcchGroups) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardListReaderGroupsW")) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    return CopyOut(std::wstring(L"SCard$DefaultReaders\0\0", 22), mszGroups, pcchGroups);
}

FAKE_EXPORT LONG WINAPI SCardFreeMemory(SCARDCONTEXT, LPCVOID) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardFreeMemory")) return *forced;
    return SCARD_S_SUCCESS;
}

FAKE_EXPORT LONG WINAPI SCardTransmit(SCARDHANDLE hCard, LPCSCARD_IO_REQUEST pioSendPci,
                                      LPCBYTE pbSendBuffer, DWORD cbSendLength,
                                      LPSCARD_IO_REQUEST pioRecvPci, LPBYTE pbRecvBuffer,
                                      LPDWORD pcbRecvLength) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardTransmit", 1, pioSendPci ? pioSendPci->dwProtocol : ~0ull);
    Arg(s, "SCardTransmit", 2, pioSendPci ? pioSendPci->cbPciLength : ~0ull);
    Arg(s, "SCardTransmit", 3, cbSendLength);
    Arg(s, "SCardTransmit", 4, pioRecvPci ? 1 : 0);
    Arg(s, "SCardTransmit", 5, cbSendLength > 0 && pbSendBuffer ? pbSendBuffer[0] : 0);
    if (auto forced = Enter(s, "SCardTransmit")) return *forced;
    LONG status;
    Card* card = FindCard(s, hCard, status);
    if (!card) return status;
    Reader* reader = FindReader(s, card->reader);
    if (!reader) return SCARD_E_READER_UNAVAILABLE;
    if (!pioSendPci || !pcbRecvLength) return SCARD_E_INVALID_PARAMETER;
    return CopyBytes(reader->response, pbRecvBuffer, pcbRecvLength);
}

FAKE_EXPORT LONG WINAPI SCardControl(SCARDHANDLE hCard, DWORD dwControlCode, LPCVOID,
                                     DWORD cbSendLength, LPVOID pbRecvBuffer, DWORD cbRecvLength,
                                     LPDWORD lpBytesReturned) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardControl", 1, dwControlCode);
    Arg(s, "SCardControl", 3, cbSendLength);
    Arg(s, "SCardControl", 5, cbRecvLength);
    if (auto forced = Enter(s, "SCardControl")) return *forced;
    LONG status;
    Card* card = FindCard(s, hCard, status);
    if (!card) return status;
    Reader* reader = FindReader(s, card->reader);
    if (!reader) return SCARD_E_READER_UNAVAILABLE;
    if (!reader->controlReply) return SCARD_E_UNSUPPORTED_FEATURE;
    if (cbRecvLength < reader->controlReply->size()) return SCARD_E_INSUFFICIENT_BUFFER;
    std::copy(reader->controlReply->begin(), reader->controlReply->end(),
              static_cast<unsigned char*>(pbRecvBuffer));
    *lpBytesReturned = static_cast<DWORD>(reader->controlReply->size());
    return SCARD_S_SUCCESS;
}

FAKE_EXPORT LONG WINAPI SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr,
                                       LPDWORD pcbAttrLen) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardGetAttrib", 1, dwAttrId);
    Arg(s, "SCardGetAttrib", 3, *pcbAttrLen);
    if (auto forced = Enter(s, "SCardGetAttrib")) return *forced;
    LONG status;
    Card* card = FindCard(s, hCard, status);
    if (!card) return status;
    Reader* reader = FindReader(s, card->reader);
    if (!reader) return SCARD_E_READER_UNAVAILABLE;
    auto it = reader->attributes.find(dwAttrId);
    if (it == reader->attributes.end()) return SCARD_E_UNSUPPORTED_FEATURE;
    return CopyBytes(it->second, pbAttr, pcbAttrLen);
}

FAKE_EXPORT LONG WINAPI SCardSetAttrib(SCARDHANDLE hCard, DWORD, LPCBYTE, DWORD) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardSetAttrib")) return *forced;
    LONG status;
    if (!FindCard(s, hCard, status)) return status;
    return SCARD_E_UNSUPPORTED_FEATURE;
}

// The smart-card database of Windows, which pcsc-lite has not: this fake
// knows no card, so each answers SCARD_E_UNKNOWN_CARD unless a test forces
// another result. Enough to see that the binding reaches them.
FAKE_EXPORT LONG WINAPI SCardLocateCardsW(SCARDCONTEXT hContext, LPCWSTR mszCards,
                                          LPSCARD_READERSTATEW, DWORD cReaders) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardLocateCardsW", 3, cReaders);
    Text(s, "SCardLocateCardsW", Utf8Of(mszCards));
    if (auto forced = Enter(s, "SCardLocateCardsW")) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    return SCARD_E_UNKNOWN_CARD;
}

FAKE_EXPORT LONG WINAPI SCardListCardsW(SCARDCONTEXT hContext, LPCBYTE, LPCGUID, DWORD cguid,
                                        LPWSTR, LPDWORD) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardListCardsW", 3, cguid);
    if (auto forced = Enter(s, "SCardListCardsW")) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    return SCARD_E_UNKNOWN_CARD;
}

FAKE_EXPORT LONG WINAPI SCardListInterfacesW(SCARDCONTEXT hContext, LPCWSTR szCard, LPGUID,
                                             LPDWORD) {
    State& s = S();
    Lock lock(s.mutex);
    Text(s, "SCardListInterfacesW", Utf8Of(szCard));
    if (auto forced = Enter(s, "SCardListInterfacesW")) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    return SCARD_E_UNKNOWN_CARD;
}

FAKE_EXPORT LONG WINAPI SCardGetProviderIdW(SCARDCONTEXT hContext, LPCWSTR szCard, LPGUID) {
    State& s = S();
    Lock lock(s.mutex);
    Text(s, "SCardGetProviderIdW", Utf8Of(szCard));
    if (auto forced = Enter(s, "SCardGetProviderIdW")) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    return SCARD_E_UNKNOWN_CARD;
}
