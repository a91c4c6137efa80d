// A fake smart-card library exporting pcsc-lite's API, for what the real
// service cannot be made to produce. Its declarations come from pcsc-lite's
// own header, so the compiler holds every exported signature to pcsc-lite's.
//
// Built in variants: FAKE_PCSC_NO_STATUS leaves out SCardStatus,
// FAKE_PCSC_NO_GETSTATUSCHANGE leaves out SCardGetStatusChange and
// FAKE_PCSC_NO_LISTREADERS leaves out SCardListReaders.
#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FakePcscControl.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Reader {
    std::string name;
    unsigned long state = SCARD_STATE_EMPTY;
    std::vector<unsigned char> atr;
    unsigned long events = 0;  // card events, reported in the high 16 bits
    unsigned long protocol = SCARD_PROTOCOL_T1;
    std::vector<unsigned char> response{0x90, 0x00};
    std::map<unsigned long, std::vector<unsigned char>> attributes;
    std::optional<std::vector<unsigned char>> controlReply;
};

struct Context {
    unsigned generation;
    bool cancelled = false;
};

struct Card {
    unsigned generation;
    std::string reader;
    unsigned long shareMode;
};

struct Forced {
    long code;
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
    unsigned long readerEvents = 0;
    std::optional<std::string> rawList;
    int pnpMode = 0;
    long nextHandle = 0x1000;
    std::map<long, Context> contexts;
    std::map<long, Card> cards;
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

// Counts the call and answers a forced result if one applies.
std::optional<LONG> Enter(State& s, const std::string& entry, bool hasBuffer = false) {
    ++s.calls[entry];
    auto it = s.forced.find(entry);
    if (it == s.forced.end()) return std::nullopt;
    for (auto f = it->second.begin(); f != it->second.end(); ++f) {
        if ((f->bufferOnly && !hasBuffer) || (f->sizeOnly && hasBuffer)) continue;
        const LONG code = f->code;
        if (f->times > 0 && --f->times == 0) it->second.erase(f);
        return code;
    }
    return std::nullopt;
}

void Arg(State& s, const char* entry, int position, unsigned long long value) {
    s.lastArgs[entry][position] = value;
}

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
// flags that the open connections imply, as pcscd does.
unsigned long ReportedState(State& s, const Reader& r) {
    unsigned long flags = r.state & 0xFFFF;
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

LONG CopyOut(const std::string& data, LPSTR buffer, LPDWORD size) {
    const DWORD needed = static_cast<DWORD>(data.size());
    if (!buffer) {
        *size = needed;
        return SCARD_S_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(buffer, data.data(), needed);
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

[[maybe_unused]] bool IsNotification(const char* name) {
    return name && strcasecmp(name, "\\\\?PnP?\\Notification") == 0;
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
    s.forced[name].push_back(Forced{code, times, bufferOnly, sizeOnly});
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

// ---- pcsc-lite's API -----------------------------------------------------------

FAKE_EXPORT LONG SCardEstablishContext(DWORD dwScope, LPCVOID, LPCVOID, LPSCARDCONTEXT phContext) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardEstablishContext", 0, dwScope);
    if (auto forced = Enter(s, "SCardEstablishContext")) return *forced;
    if (!s.serviceUp) return SCARD_E_NO_SERVICE;
    if (dwScope != SCARD_SCOPE_USER && dwScope != SCARD_SCOPE_SYSTEM) return SCARD_E_INVALID_VALUE;
    const long handle = s.nextHandle;
    s.nextHandle += 0x11;
    s.contexts[handle] = Context{s.generation};
    *phContext = handle;
    return SCARD_S_SUCCESS;
}

FAKE_EXPORT LONG SCardReleaseContext(SCARDCONTEXT hContext) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardReleaseContext", 0, static_cast<unsigned long long>(hContext));
    if (auto forced = Enter(s, "SCardReleaseContext")) return *forced;
    const LONG status = CheckContext(s, hContext);
    // A dead service's context is freed all the same.
    if (status == SCARD_E_INVALID_HANDLE) return status;
    s.contexts.erase(hContext);
    return status;
}

FAKE_EXPORT LONG SCardIsValidContext(SCARDCONTEXT hContext) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardIsValidContext")) return *forced;
    return s.contexts.count(hContext) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

FAKE_EXPORT LONG SCardConnect(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                              DWORD dwPreferredProtocols, LPSCARDHANDLE phCard,
                              LPDWORD pdwActiveProtocol) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardConnect", 2, dwShareMode);
    Arg(s, "SCardConnect", 3, dwPreferredProtocols);
    s.lastText["SCardConnect"] = szReader ? szReader : "";
    if (auto forced = Enter(s, "SCardConnect")) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    Reader* reader = szReader ? FindReader(s, szReader) : nullptr;
    if (!reader) return SCARD_E_UNKNOWN_READER;
    DWORD active = SCARD_PROTOCOL_UNDEFINED;
    if (dwShareMode != SCARD_SHARE_DIRECT) {
        const unsigned long flags = ReportedState(s, *reader);
        if (!(flags & SCARD_STATE_PRESENT)) return SCARD_E_NO_SMARTCARD;
        if (flags & SCARD_STATE_MUTE) return SCARD_W_UNRESPONSIVE_CARD;
        if (flags & SCARD_STATE_EXCLUSIVE) return SCARD_E_SHARING_VIOLATION;
        if (dwShareMode == SCARD_SHARE_EXCLUSIVE && (flags & SCARD_STATE_INUSE))
            return SCARD_E_SHARING_VIOLATION;
        if (!(dwPreferredProtocols & reader->protocol)) return SCARD_E_PROTO_MISMATCH;
        active = reader->protocol;
    }
    const long handle = s.nextHandle;
    s.nextHandle += 0x11;
    s.cards[handle] = Card{s.generation, reader->name, dwShareMode};
    *phCard = handle;
    *pdwActiveProtocol = active;
    s.changed.notify_all();
    return SCARD_S_SUCCESS;
}

FAKE_EXPORT LONG SCardReconnect(SCARDHANDLE hCard, DWORD dwShareMode, DWORD dwPreferredProtocols,
                                DWORD dwInitialization, LPDWORD pdwActiveProtocol) {
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

FAKE_EXPORT LONG SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition) {
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

FAKE_EXPORT LONG SCardBeginTransaction(SCARDHANDLE hCard) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardBeginTransaction")) return *forced;
    LONG status;
    FindCard(s, hCard, status);
    return status;
}

FAKE_EXPORT LONG SCardEndTransaction(SCARDHANDLE hCard, DWORD dwDisposition) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardEndTransaction", 1, dwDisposition);
    if (auto forced = Enter(s, "SCardEndTransaction")) return *forced;
    LONG status;
    FindCard(s, hCard, status);
    return status;
}

#ifndef FAKE_PCSC_NO_STATUS
FAKE_EXPORT LONG SCardStatus(SCARDHANDLE hCard, LPSTR szReaderName, LPDWORD pcchReaderLen,
                             LPDWORD pdwState, LPDWORD pdwProtocol, LPBYTE pbAtr,
                             LPDWORD pcbAtrLen) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardStatus")) return *forced;
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
    return CopyOut(reader->name + std::string(1, '\0'), szReaderName, pcchReaderLen);
}
#endif

#ifndef FAKE_PCSC_NO_GETSTATUSCHANGE
FAKE_EXPORT LONG SCardGetStatusChange(SCARDCONTEXT hContext, DWORD dwTimeout,
                                      SCARD_READERSTATE* rgReaderStates, DWORD cReaders) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardGetStatusChange", 1, dwTimeout);
    Arg(s, "SCardGetStatusChange", 3, cReaders);
    if (cReaders > 0 && rgReaderStates[0].szReader)
        s.lastText["SCardGetStatusChange"] = rgReaderStates[0].szReader;
    if (auto forced = Enter(s, "SCardGetStatusChange")) return *forced;
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
            SCARD_READERSTATE& rs = rgReaderStates[i];
            if (IsNotification(rs.szReader)) {
                bool change = false;
                unsigned long counter = 0;
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
            Reader* reader = rs.szReader ? FindReader(s, rs.szReader) : nullptr;
            if (!reader) return SCARD_E_UNKNOWN_READER;
            const unsigned long flags = ReportedState(s, *reader);
            const unsigned long known = rs.dwCurrentState & 0xFFFF & ~SCARD_STATE_CHANGED;
            const bool change = rs.dwCurrentState == SCARD_STATE_UNAWARE || known != flags;
            rs.dwEventState = flags | (change ? SCARD_STATE_CHANGED : 0) |
                              ((reader->events & 0xFFFF) << 16);
            const std::size_t atrLen = std::min<std::size_t>(reader->atr.size(), MAX_ATR_SIZE);
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

FAKE_EXPORT LONG SCardCancel(SCARDCONTEXT hContext) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardCancel")) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    s.contexts[hContext].cancelled = true;
    s.changed.notify_all();
    return SCARD_S_SUCCESS;
}

#ifndef FAKE_PCSC_NO_LISTREADERS
FAKE_EXPORT LONG SCardListReaders(SCARDCONTEXT hContext, LPCSTR mszGroups, LPSTR mszReaders,
                                  LPDWORD pcchReaders) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardListReaders", 1, mszGroups ? 1 : 0);
    Arg(s, "SCardListReaders", 3, pcchReaders ? *pcchReaders : 0);
    if (auto forced = Enter(s, "SCardListReaders", mszReaders != nullptr)) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    if (!s.rawList && s.readers.empty()) return SCARD_E_NO_READERS_AVAILABLE;
    return CopyOut(ReaderList(s), mszReaders, pcchReaders);
}
#endif

FAKE_EXPORT LONG SCardListReaderGroups(SCARDCONTEXT hContext, LPSTR mszGroups, LPDWORD pcchGroups) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardListReaderGroups")) return *forced;
    if (const LONG status = CheckContext(s, hContext)) return status;
    return CopyOut(std::string("SCard$DefaultReaders\0\0", 22), mszGroups, pcchGroups);
}

FAKE_EXPORT LONG SCardFreeMemory(SCARDCONTEXT, LPCVOID) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardFreeMemory")) return *forced;
    return SCARD_S_SUCCESS;
}

FAKE_EXPORT LONG SCardTransmit(SCARDHANDLE hCard, const SCARD_IO_REQUEST* pioSendPci,
                               LPCBYTE pbSendBuffer, DWORD cbSendLength,
                               SCARD_IO_REQUEST* pioRecvPci, LPBYTE pbRecvBuffer,
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

FAKE_EXPORT LONG SCardControl(SCARDHANDLE hCard, DWORD dwControlCode, LPCVOID, DWORD cbSendLength,
                              LPVOID pbRecvBuffer, DWORD cbRecvLength, LPDWORD lpBytesReturned) {
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

FAKE_EXPORT LONG SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr,
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

FAKE_EXPORT LONG SCardSetAttrib(SCARDHANDLE hCard, DWORD, LPCBYTE, DWORD) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardSetAttrib")) return *forced;
    LONG status;
    if (!FindCard(s, hCard, status)) return status;
    return SCARD_E_UNSUPPORTED_FEATURE;
}
