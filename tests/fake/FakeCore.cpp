#include "FakeCore.h"

#include "FakePcscControl.h"

namespace fake::core {
namespace {

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

}  // namespace

State& S() {
    static State state;
    return state;
}

std::optional<LONG> Enter(State& s, const std::string& exported, bool hasBuffer) {
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

void Overstate(State& s, const std::string& exported, LPDWORD length) {
    auto it = s.overstated.find(exported);
    if (it == s.overstated.end()) it = s.overstated.find(Family(exported));
    if (it == s.overstated.end()) return;
    *length = it->second.length;
    if (it->second.times > 0 && --it->second.times == 0) s.overstated.erase(it);
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
    const auto found = s.readerIndex.find(name);
    return found == s.readerIndex.end() ? nullptr : &s.readers[found->second];
}

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

Reader* CardReader(State& s, SCARDHANDLE hCard, LONG& status, Card** cardOut) {
    Card* card = FindCard(s, hCard, status);
    if (!card) return nullptr;
    if (cardOut) *cardOut = card;
    Reader* reader = FindReader(s, card->reader);
    if (!reader) status = SCARD_E_READER_UNAVAILABLE;
    return reader;
}

std::string ReaderList(State& s) {
    if (s.rawList) return *s.rawList;
    std::string list;
    for (const Reader& r : s.readers) {
        list += r.name;
        list.push_back('\0');
    }
    list.push_back('\0');
    return list;
}

// ---- The calls ---------------------------------------------------------------

LONG EstablishContext(DWORD scope, LPSCARDCONTEXT context) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardEstablishContext", 0, scope);
    if (auto forced = Enter(s, "SCardEstablishContext")) return *forced;
    if (!s.serviceUp) return SCARD_E_NO_SERVICE;
    if (scope != SCARD_SCOPE_USER && scope != SCARD_SCOPE_SYSTEM) return SCARD_E_INVALID_VALUE;
    const SCARDCONTEXT handle = s.nextHandle;
    s.nextHandle += 0x11;
    s.contexts[handle] = Context{s.generation};
    *context = handle;
    return SCARD_S_SUCCESS;
}

LONG ReleaseContext(SCARDCONTEXT context) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardReleaseContext", 0, static_cast<unsigned long long>(context));
    if (auto forced = Enter(s, "SCardReleaseContext")) return *forced;
    const LONG status = CheckContext(s, context);
    // A dead service's context is freed all the same.
    if (status == SCARD_E_INVALID_HANDLE) return status;
    s.contexts.erase(context);
    return status;
}

LONG IsValidContext(SCARDCONTEXT context) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardIsValidContext")) return *forced;
    return s.contexts.count(context) ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

LONG Connect(const char* exported, SCARDCONTEXT context, const std::optional<std::string>& name,
             DWORD shareMode, DWORD preferredProtocols, LPSCARDHANDLE card,
             LPDWORD activeProtocol) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, exported, 2, shareMode);
    Arg(s, exported, 3, preferredProtocols);
    Text(s, exported, name.value_or(""));
    if (auto forced = Enter(s, exported)) return *forced;
    if (const LONG status = CheckContext(s, context)) return status;
    Reader* reader = name ? FindReader(s, *name) : nullptr;
    if (!reader) return SCARD_E_UNKNOWN_READER;
    DWORD active = SCARD_PROTOCOL_UNDEFINED;
    if (shareMode != SCARD_SHARE_DIRECT) {
        const DWORD flags = ReportedState(s, *reader);
        if (!(flags & SCARD_STATE_PRESENT)) return SCARD_E_NO_SMARTCARD;
        if (flags & SCARD_STATE_MUTE) return SCARD_W_UNRESPONSIVE_CARD;
        if (flags & SCARD_STATE_EXCLUSIVE) return SCARD_E_SHARING_VIOLATION;
        if (shareMode == SCARD_SHARE_EXCLUSIVE && (flags & SCARD_STATE_INUSE))
            return SCARD_E_SHARING_VIOLATION;
        if (!(preferredProtocols & reader->protocol)) return SCARD_E_PROTO_MISMATCH;
        active = reader->protocol;
    }
    const SCARDHANDLE handle = s.nextHandle;
    s.nextHandle += 0x11;
    s.cards[handle] = Card{s.generation, reader->name, shareMode};
    *card = handle;
    *activeProtocol = active;
    s.changed.notify_all();
    return SCARD_S_SUCCESS;
}

LONG Reconnect(SCARDHANDLE hCard, DWORD shareMode, DWORD preferredProtocols, DWORD initialization,
               LPDWORD activeProtocol) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardReconnect", 1, shareMode);
    Arg(s, "SCardReconnect", 2, preferredProtocols);
    Arg(s, "SCardReconnect", 3, initialization);
    if (auto forced = Enter(s, "SCardReconnect")) return *forced;
    LONG status;
    Card* card = nullptr;
    Reader* reader = CardReader(s, hCard, status, &card);
    if (!reader) return status;
    if (!(preferredProtocols & reader->protocol)) return SCARD_E_PROTO_MISMATCH;
    card->shareMode = shareMode;
    *activeProtocol = reader->protocol;
    return SCARD_S_SUCCESS;
}

LONG Disconnect(SCARDHANDLE card, DWORD disposition) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardDisconnect", 1, disposition);
    if (auto forced = Enter(s, "SCardDisconnect")) return *forced;
    LONG status;
    if (!FindCard(s, card, status)) return status;
    s.cards.erase(card);
    s.changed.notify_all();
    return SCARD_S_SUCCESS;
}

LONG BeginTransaction(SCARDHANDLE card) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardBeginTransaction")) return *forced;
    LONG status;
    FindCard(s, card, status);
    return status;
}

LONG EndTransaction(SCARDHANDLE card, DWORD disposition) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardEndTransaction", 1, disposition);
    if (auto forced = Enter(s, "SCardEndTransaction")) return *forced;
    LONG status;
    FindCard(s, card, status);
    return status;
}

LONG Cancel(SCARDCONTEXT context) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardCancel")) return *forced;
    if (const LONG status = CheckContext(s, context)) return status;
    s.contexts[context].cancelled = true;
    s.changed.notify_all();
    return SCARD_S_SUCCESS;
}

LONG FreeMemory() {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardFreeMemory")) return *forced;
    return SCARD_S_SUCCESS;
}

LONG Transmit(SCARDHANDLE hCard, const SCARD_IO_REQUEST* sendPci, LPCBYTE send, DWORD sendLength,
              SCARD_IO_REQUEST* recvPci, LPBYTE recv, LPDWORD recvLength) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardTransmit", 1, sendPci ? sendPci->dwProtocol : ~0ull);
    Arg(s, "SCardTransmit", 2, sendPci ? sendPci->cbPciLength : ~0ull);
    Arg(s, "SCardTransmit", 3, sendLength);
    Arg(s, "SCardTransmit", 4, recvPci ? 1 : 0);
    Arg(s, "SCardTransmit", 5, sendLength > 0 && send ? send[0] : 0);
    if (auto forced = Enter(s, "SCardTransmit")) return *forced;
    LONG status;
    Reader* reader = CardReader(s, hCard, status);
    if (!reader) return status;
    if (!sendPci || !recvLength) return SCARD_E_INVALID_PARAMETER;
    const LONG copied = CopyOut(reader->response, recv, recvLength);
    if (copied == SCARD_S_SUCCESS && recv) Overstate(s, "SCardTransmit", recvLength);
    return copied;
}

LONG Control(SCARDHANDLE hCard, DWORD code, DWORD sendLength, LPVOID recv, DWORD recvLength,
             LPDWORD returned) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardControl", 1, code);
    Arg(s, "SCardControl", 3, sendLength);
    Arg(s, "SCardControl", 5, recvLength);
    if (auto forced = Enter(s, "SCardControl")) return *forced;
    LONG status;
    Reader* reader = CardReader(s, hCard, status);
    if (!reader) return status;
    if (!reader->controlReply) return SCARD_E_UNSUPPORTED_FEATURE;
    if (recvLength < reader->controlReply->size()) return SCARD_E_INSUFFICIENT_BUFFER;
    std::copy(reader->controlReply->begin(), reader->controlReply->end(),
              static_cast<unsigned char*>(recv));
    *returned = static_cast<DWORD>(reader->controlReply->size());
    return SCARD_S_SUCCESS;
}

LONG GetAttrib(SCARDHANDLE hCard, DWORD id, LPBYTE attr, LPDWORD attrLength) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, "SCardGetAttrib", 1, id);
    Arg(s, "SCardGetAttrib", 3, *attrLength);
    if (auto forced = Enter(s, "SCardGetAttrib")) return *forced;
    LONG status;
    Reader* reader = CardReader(s, hCard, status);
    if (!reader) return status;
    auto it = reader->attributes.find(id);
    if (it == reader->attributes.end()) return SCARD_E_UNSUPPORTED_FEATURE;
    return CopyOut(it->second, attr, attrLength);
}

LONG SetAttrib(SCARDHANDLE card) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, "SCardSetAttrib")) return *forced;
    LONG status;
    if (!FindCard(s, card, status)) return status;
    return SCARD_E_UNSUPPORTED_FEATURE;
}

}  // namespace fake::core

// ---- Control ---------------------------------------------------------------

using fake::core::FindReader;
using fake::core::Lock;
using fake::core::Reader;
using fake::core::S;
using fake::core::State;

FAKE_EXPORT void fake_pcsc_reset() {
    State& s = S();
    Lock lock(s.mutex);
    s.serviceUp = true;
    ++s.generation;
    s.readers.clear();
    s.readerIndex.clear();
    s.readerEvents = 0;
    s.rawList.reset();
    s.pnpMode = 0;
    s.contexts.clear();
    s.cards.clear();
    s.forced.clear();
    s.overstated.clear();
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
    s.readerIndex.emplace(reader.name, s.readers.size() - 1);  // a duplicate keeps the first
    ++s.readerEvents;
    s.changed.notify_all();
}

FAKE_EXPORT void fake_pcsc_remove_reader(const char* name) {
    State& s = S();
    Lock lock(s.mutex);
    s.readers.erase(std::remove_if(s.readers.begin(), s.readers.end(),
                                   [&](const Reader& r) { return r.name == name; }),
                    s.readers.end());
    s.readerIndex.clear();
    for (std::size_t i = s.readers.size(); i-- > 0;) s.readerIndex[s.readers[i].name] = i;
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

FAKE_EXPORT void fake_pcsc_set_attrib(const char* name, unsigned long id, const unsigned char* data,
                                      std::size_t len) {
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
    s.forced[name].push_back(
        fake::core::Forced{static_cast<LONG>(code), times, bufferOnly, sizeOnly});
}

FAKE_EXPORT void fake_pcsc_overstate_length(const char* entry, unsigned long length, int times) {
    State& s = S();
    Lock lock(s.mutex);
    if (times == 0) return;
    s.overstated[entry] = fake::core::Overstated{static_cast<DWORD>(length), times};
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
