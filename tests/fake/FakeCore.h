// The part of the fake smart-card library that pcsc-lite's (FakePcsc.cpp) and
// winscard.dll's (FakeWinscard.cpp) share: the state the control functions of
// FakePcscControl.h set up, its locking, and what each call does with it.
//
// It is compiled against the platform's own <winscard.h>, so LONG, DWORD,
// SCARDCONTEXT, the records and every SCARD_* value here are the platform's.
// Reader names are UTF-8 here; the fakes keep what differs: their exported
// signatures, their records' layouts and the text encodings they hand out.
//
// Calls are counted and recorded under the exported name and, for Windows'
// W and A entry points, under the name without that ending too (see
// FakeWinscard.cpp); pcsc-lite's names have no such ending.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif
#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#if defined(_WIN32)
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace fake::core {

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

// A length a call reports in place of the one it wrote (FakePcscControl.h).
struct Overstated {
    DWORD length;
    int times;  // < 0: for ever
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;
    bool serviceUp = true;
    unsigned generation = 1;
    std::vector<Reader> readers;
    // Name -> index in readers of the first reader with that name: a look-up
    // costs the same with ten thousand readers as with one.
    std::unordered_map<std::string, std::size_t> readerIndex;
    DWORD readerEvents = 0;
    std::optional<std::string> rawList;
    int pnpMode = 0;
    SCARDHANDLE nextHandle = 0x1000;
    std::map<SCARDCONTEXT, Context> contexts;
    std::map<SCARDHANDLE, Card> cards;
    std::map<std::string, std::vector<Forced>> forced;
    std::map<std::string, Overstated> overstated;
    std::map<std::string, long> calls;
    std::map<std::string, std::map<int, unsigned long long>> lastArgs;
    std::map<std::string, std::string> lastText;
};

State& S();

using Lock = std::unique_lock<std::mutex>;

// Counts the call and answers a forced result if one applies (the exported
// name's first).
std::optional<LONG> Enter(State& s, const std::string& exported, bool hasBuffer = false);
void Arg(State& s, const std::string& exported, int position, unsigned long long value);
void Text(State& s, const std::string& exported, const std::string& text);
// After a call that succeeded: the length it reports instead of *length when
// a test asked for one (the exported name's first).
void Overstate(State& s, const std::string& exported, LPDWORD length);

LONG CheckContext(State& s, SCARDCONTEXT context);
Card* FindCard(State& s, SCARDHANDLE card, LONG& status);
Reader* FindReader(State& s, const std::string& name);
// The reader of a connected card, or null with the status to answer.
Reader* CardReader(State& s, SCARDHANDLE hCard, LONG& status, Card** card = nullptr);
// The state flags the service reports: what the test set, plus the sharing
// flags that the open connections imply, as pcscd does.
DWORD ReportedState(State& s, const Reader& r);
// The reader multi-string in UTF-8 (or the raw bytes a test set).
std::string ReaderList(State& s);

// Copies `data` out the way both libraries do: its size alone when there is
// no buffer, SCARD_E_INSUFFICIENT_BUFFER when the buffer is too small.
template <typename Data, typename Out>
LONG CopyOut(const Data& data, Out* buffer, LPDWORD size) {
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

// ---- The calls ---------------------------------------------------------------
// Those with one signature on both platforms take its arguments; the others
// take the reader names in UTF-8, or a way to read and write the platform's.

LONG EstablishContext(DWORD scope, LPSCARDCONTEXT context);
LONG ReleaseContext(SCARDCONTEXT context);
LONG IsValidContext(SCARDCONTEXT context);
// `reader` is empty when the caller gave none.
LONG Connect(const char* exported, SCARDCONTEXT context, const std::optional<std::string>& reader,
             DWORD shareMode, DWORD preferredProtocols, LPSCARDHANDLE card, LPDWORD activeProtocol);
LONG Reconnect(SCARDHANDLE card, DWORD shareMode, DWORD preferredProtocols, DWORD initialization,
               LPDWORD activeProtocol);
LONG Disconnect(SCARDHANDLE card, DWORD disposition);
LONG BeginTransaction(SCARDHANDLE card);
LONG EndTransaction(SCARDHANDLE card, DWORD disposition);
LONG Cancel(SCARDCONTEXT context);
LONG FreeMemory();
LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send, DWORD sendLength,
              SCARD_IO_REQUEST* recvPci, LPBYTE recv, LPDWORD recvLength);
LONG Control(SCARDHANDLE card, DWORD code, DWORD sendLength, LPVOID recv, DWORD recvLength,
             LPDWORD returned);
LONG GetAttrib(SCARDHANDLE card, DWORD id, LPBYTE attr, LPDWORD attrLength);
LONG SetAttrib(SCARDHANDLE card);

// `names(utf8)` is the reader's names as the platform hands them out, NULs
// included.
template <typename Char, typename Names>
LONG Status(const char* exported, SCARDHANDLE hCard, Char* readerNames, LPDWORD namesLength,
            LPDWORD state, LPDWORD protocol, LPBYTE atr, LPDWORD atrLength, Names names) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, exported)) return *forced;
    LONG status;
    Card* card = nullptr;
    Reader* reader = CardReader(s, hCard, status, &card);
    if (!reader) return status;
    if (state) *state = ReportedState(s, *reader);
    if (protocol) *protocol = card->shareMode == SCARD_SHARE_DIRECT ? 0 : reader->protocol;
    if (atrLength) {
        if (atr && *atrLength < reader->atr.size()) return SCARD_E_INSUFFICIENT_BUFFER;
        if (atr) std::copy(reader->atr.begin(), reader->atr.end(), atr);
        *atrLength = static_cast<DWORD>(reader->atr.size());
    }
    if (!namesLength) return SCARD_S_SUCCESS;
    return CopyOut(names(reader->name), readerNames, namesLength);
}

// `names.IsNotification(szReader)` tells the reader-list notification;
// `names.Utf8(szReader)` is a record's reader name in UTF-8.
template <typename Record, typename Names>
LONG GetStatusChange(const char* exported, SCARDCONTEXT hContext, DWORD timeout, Record* records,
                     DWORD count, const Names& names) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, exported, 1, timeout);
    Arg(s, exported, 3, count);
    if (count > 0 && records[0].szReader) Text(s, exported, names.Utf8(records[0].szReader));
    if (auto forced = Enter(s, exported)) return *forced;
    const std::size_t readersAtEntry = s.readers.size();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    for (;;) {
        if (const LONG status = CheckContext(s, hContext)) return status;
        Context& context = s.contexts[hContext];
        if (context.cancelled) {
            context.cancelled = false;
            return SCARD_E_CANCELLED;
        }
        bool anyChange = false;
        for (DWORD i = 0; i < count; ++i) {
            Record& rs = records[i];
            if (names.IsNotification(rs.szReader)) {
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
                rs.dwEventState =
                    change ? (SCARD_STATE_CHANGED | (counter << 16)) : (counter << 16);
                anyChange = anyChange || change;
                continue;
            }
            Reader* reader = rs.szReader ? FindReader(s, names.Utf8(rs.szReader)) : nullptr;
            if (!reader) return SCARD_E_UNKNOWN_READER;
            const DWORD flags = ReportedState(s, *reader);
            const DWORD known = rs.dwCurrentState & 0xFFFF & ~DWORD{SCARD_STATE_CHANGED};
            const bool change = rs.dwCurrentState == SCARD_STATE_UNAWARE || known != flags;
            rs.dwEventState =
                flags | (change ? SCARD_STATE_CHANGED : 0) | ((reader->events & 0xFFFF) << 16);
            const std::size_t atrLen = std::min(reader->atr.size(), sizeof(rs.rgbAtr));
            rs.cbAtr = (flags & SCARD_STATE_PRESENT) ? static_cast<DWORD>(atrLen) : 0;
            std::copy_n(reader->atr.begin(), rs.cbAtr, rs.rgbAtr);
            anyChange = anyChange || change;
        }
        if (anyChange) return SCARD_S_SUCCESS;
        if (timeout != INFINITE && s.changed.wait_until(lock, deadline) == std::cv_status::timeout)
            return SCARD_E_TIMEOUT;
        if (timeout == INFINITE) s.changed.wait(lock);
    }
}

// `convert(list, raw)` turns the UTF-8 multi-string, or the raw bytes a test
// set when `raw`, into what the platform hands out.
template <typename Char, typename Convert>
LONG ListReaders(const char* exported, SCARDCONTEXT context, bool groupsGiven, Char* readers,
                 LPDWORD size, Convert convert) {
    State& s = S();
    Lock lock(s.mutex);
    Arg(s, exported, 1, groupsGiven ? 1 : 0);
    Arg(s, exported, 3, size ? *size : 0);
    if (auto forced = Enter(s, exported, readers != nullptr)) return *forced;
    if (const LONG status = CheckContext(s, context)) return status;
    if (!s.rawList && s.readers.empty()) return SCARD_E_NO_READERS_AVAILABLE;
    const LONG status = CopyOut(convert(ReaderList(s), s.rawList.has_value()), readers, size);
    if (status == SCARD_S_SUCCESS && readers) Overstate(s, exported, size);
    return status;
}

template <typename Char>
LONG ListReaderGroups(const char* exported, SCARDCONTEXT context,
                      const std::basic_string<Char>& groups, Char* buffer, LPDWORD size) {
    State& s = S();
    Lock lock(s.mutex);
    if (auto forced = Enter(s, exported)) return *forced;
    if (const LONG status = CheckContext(s, context)) return status;
    return CopyOut(groups, buffer, size);
}

}  // namespace fake::core
