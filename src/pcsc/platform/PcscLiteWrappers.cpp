// The binding's wrappers on pcsc-lite. pcsc-lite has no UTF-16 entry points:
// its names are bytes (UTF-8 as a rule, but a driver or a reader.conf may
// give any), its DWORD is unsigned long, its ATR array holds 33 bytes and its
// protocol header is two unsigned longs. Each wrapper converts its arguments
// to pcsc-lite's forms, forwards the call through the call seam (CallSeam.h)
// and converts the results back; sizes given to the caller count UTF-16
// characters. Names go through the lossless name codec (TextConversions.h):
// a name read from the service and handed back names the same reader,
// whatever its bytes.
#include <algorithm>
#include <string>
#include <vector>

#include "pcsc/PCSCRaw.h"
#include "pcsc/platform/CallSeam.h"

namespace pcsc {
namespace {

using platform::NativeDword;
using platform::NativeHandle;
using platform::NativeIoRequest;
using platform::NativeReaderState;

std::string ToBytes(const char16_t* name) {
    return name ? NameToBytes(std::u16string_view(name)) : std::string();
}

// A UTF-16 multi-string (names each ended by NUL, then one more NUL) as
// pcsc-lite's, both final NULs kept.
std::string MultiToBytes(const char16_t* multi) {
    std::string out;
    const char16_t* p = multi;
    while (*p) {
        const std::u16string_view name(p);
        out += NameToBytes(name);
        out.push_back('\0');
        p += name.size() + 1;
    }
    out.push_back('\0');
    return out;
}

// Gets a multi-string of names from pcsc-lite and hands it to the caller in
// UTF-16. A call without a buffer answers the length of pcsc-lite's form,
// which is never less than the UTF-16 one (each byte gives at most one
// character), so a buffer of that many characters always holds the result of
// the next call. With a buffer, the caller's size in characters bounds what
// is written; the size returned is the UTF-16 length with both final NULs.
template <typename Fetch>
Status FetchMultiString(Fetch fetch, char16_t* out, std::uint32_t& size) {
    if (!out) {
        NativeDword needed = 0;
        const Status status = fetch(nullptr, &needed);
        size = static_cast<std::uint32_t>(needed);
        return status;
    }
    // One UTF-16 character takes at most three bytes of pcsc-lite's form.
    std::vector<char> native(std::max<std::size_t>(std::size_t{size} * 3, 2));
    Status status = SCARD_S_SUCCESS;
    NativeDword got = 0;
    // The list may grow between the service's size check and its copy: retry
    // a bounded number of times with the size the service asks for.
    for (int attempt = 0; attempt < 3; ++attempt) {
        got = static_cast<NativeDword>(native.size());
        status = fetch(native.data(), &got);
        if (status != SCARD_E_INSUFFICIENT_BUFFER || got <= native.size()) break;
        native.resize(got);
    }
    if (status != SCARD_S_SUCCESS) {
        return status;
    }
    got = std::min<NativeDword>(got, static_cast<NativeDword>(native.size()));
    const std::u16string text = NameFromBytes(std::string_view(native.data(), got));
    if (text.size() > size) {
        size = static_cast<std::uint32_t>(text.size());
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::copy(text.begin(), text.end(), out);
    size = static_cast<std::uint32_t>(text.size());
    return SCARD_S_SUCCESS;
}

// The caller's reader-state records as pcsc-lite's, names as bytes. Small
// counts (the usual one record) live on the stack.
class NativeStates {
public:
    NativeStates(const TSCardReaderStateA* states, std::uint32_t count) : count_(count) {
        if (count > kInline) {
            heap_.resize(count);
            names_.resize(count);
        }
        NativeReaderState* native = data();
        for (std::uint32_t i = 0; i < count; ++i) {
            std::string& name = count > kInline ? names_[i] : inlineNames_[i];
            name = ToBytes(states[i].szReader);
            native[i] = NativeReaderState{};
            native[i].szReader = states[i].szReader ? name.c_str() : nullptr;
            native[i].pvUserData = states[i].pvUserData;
            native[i].dwCurrentState = states[i].dwCurrentState;
            native[i].dwEventState = states[i].dwEventState;
            native[i].cbAtr = std::min<NativeDword>(states[i].cbAtr, platform::kMaxAtrSize);
            std::copy_n(states[i].rgbAtr, native[i].cbAtr, native[i].rgbAtr);
        }
    }
    NativeReaderState* data() { return count_ > kInline ? heap_.data() : inline_; }
    void CopyBack(TSCardReaderStateA* states) const {
        const NativeReaderState* native = count_ > kInline ? heap_.data() : inline_;
        for (std::uint32_t i = 0; i < count_; ++i) {
            states[i].dwEventState = static_cast<std::uint32_t>(native[i].dwEventState);
            const auto atr =
                std::min<NativeDword>(std::min<NativeDword>(native[i].cbAtr, platform::kMaxAtrSize),
                                      sizeof states[i].rgbAtr);
            states[i].cbAtr = static_cast<std::uint32_t>(atr);
            std::copy_n(native[i].rgbAtr, atr, states[i].rgbAtr);
        }
    }

private:
    static constexpr std::uint32_t kInline = 4;
    std::uint32_t count_;
    NativeReaderState inline_[kInline]{};
    std::string inlineNames_[kInline];
    std::vector<NativeReaderState> heap_;
    std::vector<std::string> names_;
};

}  // namespace

namespace e = platform::entries;
using platform::Call;
using platform::Forward;
using platform::Through;

Status TPCSCRaw::SCardBeginTransaction(Handle hContext) {
    return Forward(FValid, FSCardBeginTransaction, e::kBeginTransaction,
                   static_cast<NativeHandle>(hContext));
}

Status TPCSCRaw::SCardCancel(Handle hContext) {
    return Forward(FValid, FSCardCancel, e::kCancel, static_cast<NativeHandle>(hContext));
}

Status TPCSCRaw::SCardConnect(Handle hContext, const char16_t* pReader, std::uint32_t ShareMode,
                              std::uint32_t PreferredProtocols, Handle& CardHandle,
                              std::uint32_t& ActiveProtocol) {
    return Through(FValid, FSCardConnect, e::kConnect, [&](const Call<TSCardConnect>& call) {
        const std::string reader = ToBytes(pReader);
        NativeHandle card = static_cast<NativeHandle>(CardHandle);
        NativeDword active = ActiveProtocol;
        const Status status =
            call(static_cast<NativeHandle>(hContext), pReader ? reader.c_str() : nullptr, ShareMode,
                 PreferredProtocols, &card, &active);
        CardHandle = static_cast<Handle>(card);
        ActiveProtocol = static_cast<std::uint32_t>(active);
        return status;
    });
}

Status TPCSCRaw::SCardControl(Handle hContext, std::uint32_t IoCtl, const void* pInBuffer,
                              std::uint32_t SizeInBuffer, void* pOutBuffer,
                              std::uint32_t SizeOutBuffer, std::uint32_t& BytesRet) {
    return Through(FValid, FSCardControl, e::kControl, [&](const Call<TSCardControl>& call) {
        NativeDword returned = BytesRet;
        const Status status = call(static_cast<NativeHandle>(hContext), IoCtl, pInBuffer,
                                   SizeInBuffer, pOutBuffer, SizeOutBuffer, &returned);
        BytesRet = static_cast<std::uint32_t>(returned);
        return status;
    });
}

Status TPCSCRaw::SCardDisconnect(Handle hContext, std::uint32_t Disposition) {
    return Forward(FValid, FSCardDisconnect, e::kDisconnect, static_cast<NativeHandle>(hContext),
                   Disposition);
}

Status TPCSCRaw::SCardEndTransaction(Handle hContext, std::uint32_t Disposition) {
    return Forward(FValid, FSCardEndTransaction, e::kEndTransaction,
                   static_cast<NativeHandle>(hContext), Disposition);
}

Status TPCSCRaw::SCardEstablishContext(std::uint32_t Scope, const void* pReserved1,
                                       const void* pReserved2, Handle& hContext) {
    return Through(FValid, FSCardEstablishContext, e::kEstablishContext,
                   [&](const Call<TSCardEstablishContext>& call) {
                       NativeHandle context = static_cast<NativeHandle>(hContext);
                       const Status status = call(Scope, pReserved1, pReserved2, &context);
                       hContext = static_cast<Handle>(context);
                       return status;
                   });
}

Status TPCSCRaw::SCardFreeMemory(Handle hContext, const void* pMem) {
    return Forward(FValid, FSCardFreeMemory, e::kFreeMemory, static_cast<NativeHandle>(hContext),
                   pMem);
}

Status TPCSCRaw::SCardGetAttrib(Handle hCard, std::uint32_t AttrId, std::uint8_t* pAttr,
                                std::uint32_t& SizeAttr) {
    return Through(FValid, FSCardGetAttrib, e::kGetAttrib, [&](const Call<TSCardGetAttrib>& call) {
        NativeDword size = SizeAttr;
        const Status status = call(static_cast<NativeHandle>(hCard), AttrId, pAttr, &size);
        SizeAttr = static_cast<std::uint32_t>(size);
        return status;
    });
}

Status TPCSCRaw::SCardGetProviderId(Handle hContext, const char16_t* pCard,
                                    std::uint8_t (&GuidProviderId)[16]) {
    return Through(FValid, FSCardGetProviderId, e::kGetProviderId,
                   [&](const Call<TSCardGetProviderId>& call) {
                       const std::string card = ToBytes(pCard);
                       return call(static_cast<NativeHandle>(hContext),
                                   pCard ? card.c_str() : nullptr, GuidProviderId);
                   });
}

Status TPCSCRaw::SCardGetStatusChange(Handle hContext, std::uint32_t Timeout,
                                      PSCardReaderStateA pReaderStates,
                                      std::uint32_t ReadersStatesCount) {
    return Through(FValid, FSCardGetStatusChange, e::kGetStatusChange,
                   [&](const Call<TSCardGetStatusChange>& call) {
                       if (!pReaderStates) ReadersStatesCount = 0;
                       NativeStates native(pReaderStates, ReadersStatesCount);
                       const Status status =
                           call(static_cast<NativeHandle>(hContext), Timeout,
                                ReadersStatesCount ? native.data() : nullptr, ReadersStatesCount);
                       native.CopyBack(pReaderStates);
                       return status;
                   });
}

Status TPCSCRaw::SCardListReaders(Handle hContext, const char16_t* pGroups, char16_t* pReaders,
                                  std::uint32_t& SizeReaders) {
    return Through(FValid, FSCardListReaders, e::kListReaders,
                   [&](const Call<TSCardListReaders>& call) {
                       const std::string groups = pGroups ? MultiToBytes(pGroups) : std::string();
                       return FetchMultiString(
                           [&](char* buffer, NativeDword* size) {
                               return call(static_cast<NativeHandle>(hContext),
                                           pGroups ? groups.c_str() : nullptr, buffer, size);
                           },
                           pReaders, SizeReaders);
                   });
}

Status TPCSCRaw::SCardListCards(Handle hContext, const std::uint8_t* pAtr,
                                const void* pGuidInterfaces, std::uint32_t GuidInterfacesCount,
                                char16_t* pCards, std::uint32_t& SizeCards) {
    return Through(FValid, FSCardListCards, e::kListCards, [&](const Call<TSCardListCards>& call) {
        return FetchMultiString(
            [&](char* buffer, NativeDword* size) {
                return call(static_cast<NativeHandle>(hContext), pAtr, pGuidInterfaces,
                            GuidInterfacesCount, buffer, size);
            },
            pCards, SizeCards);
    });
}

Status TPCSCRaw::SCardListInterfaces(Handle hContext, const char16_t* pCard, void* pGuidInterfaces,
                                     std::uint32_t& GuidInterfacesCount) {
    return Through(FValid, FSCardListInterfaces, e::kListInterfaces,
                   [&](const Call<TSCardListInterfaces>& call) {
                       const std::string card = ToBytes(pCard);
                       NativeDword count = GuidInterfacesCount;
                       const Status status =
                           call(static_cast<NativeHandle>(hContext), pCard ? card.c_str() : nullptr,
                                pGuidInterfaces, &count);
                       GuidInterfacesCount = static_cast<std::uint32_t>(count);
                       return status;
                   });
}

Status TPCSCRaw::SCardListReaderGroups(Handle hContext, char16_t* pGroups,
                                       std::uint32_t& SizeGroups) {
    return Through(FValid, FSCardListReaderGroups, e::kListReaderGroups,
                   [&](const Call<TSCardListReaderGroups>& call) {
                       return FetchMultiString(
                           [&](char* buffer, NativeDword* size) {
                               return call(static_cast<NativeHandle>(hContext), buffer, size);
                           },
                           pGroups, SizeGroups);
                   });
}

Status TPCSCRaw::SCardLocateCards(Handle hContext, const char16_t* pCards,
                                  PSCardReaderStateA pReaderStates,
                                  std::uint32_t ReaderStatesCount) {
    return Through(
        FValid, FSCardLocateCards, e::kLocateCards, [&](const Call<TSCardLocateCards>& call) {
            const std::string cards = pCards ? MultiToBytes(pCards) : std::string();
            if (!pReaderStates) ReaderStatesCount = 0;
            NativeStates native(pReaderStates, ReaderStatesCount);
            const Status status =
                call(static_cast<NativeHandle>(hContext), pCards ? cards.c_str() : nullptr,
                     ReaderStatesCount ? native.data() : nullptr, ReaderStatesCount);
            native.CopyBack(pReaderStates);
            return status;
        });
}

Status TPCSCRaw::SCardReconnect(Handle hCard, std::uint32_t ShareMode,
                                std::uint32_t PreferredProtocols, std::uint32_t dwInitialization,
                                std::uint32_t& ActiveProtocol) {
    return Through(FValid, FSCardReconnect, e::kReconnect, [&](const Call<TSCardReconnect>& call) {
        NativeDword active = ActiveProtocol;
        const Status status = call(static_cast<NativeHandle>(hCard), ShareMode, PreferredProtocols,
                                   dwInitialization, &active);
        ActiveProtocol = static_cast<std::uint32_t>(active);
        return status;
    });
}

Status TPCSCRaw::SCardReleaseContext(Handle hContext) {
    return Forward(FValid, FSCardReleaseContext, e::kReleaseContext,
                   static_cast<NativeHandle>(hContext));
}

Status TPCSCRaw::SCardTransmit(Handle hCard, const TSCardIoRequest* PioSendPci,
                               const std::uint8_t* SendBuffer, std::uint32_t SizeSendBuffer,
                               TSCardIoRequest* PioRecvPci, std::uint8_t* RecvBuffer,
                               std::uint32_t& SizeRecvBuffer) {
    return Through(FValid, FSCardTransmit, e::kTransmit, [&](const Call<TSCardTransmit>& call) {
        // Our header counts 8 bytes for itself, pcsc-lite's counts its own
        // size; protocol-specific bytes after the header are not carried
        // across.
        constexpr NativeDword kNativeHeader = sizeof(NativeIoRequest);
        NativeIoRequest send{};
        if (PioSendPci) send = {PioSendPci->Protocol, kNativeHeader};
        NativeIoRequest recv{};
        if (PioRecvPci) recv = {PioRecvPci->Protocol, kNativeHeader};
        NativeDword received = SizeRecvBuffer;
        const Status status =
            call(static_cast<NativeHandle>(hCard), PioSendPci ? &send : nullptr, SendBuffer,
                 SizeSendBuffer, PioRecvPci ? &recv : nullptr, RecvBuffer, &received);
        if (PioRecvPci) PioRecvPci->Protocol = static_cast<std::uint32_t>(recv.dwProtocol);
        SizeRecvBuffer = static_cast<std::uint32_t>(received);
        return status;
    });
}

Status TPCSCRaw::SCardSetAttrib(Handle hCard, std::uint32_t AttrId, const std::uint8_t* pAttr,
                                std::uint32_t AttrLen) {
    return Forward(FValid, FSCardSetAttrib, e::kSetAttrib, static_cast<NativeHandle>(hCard), AttrId,
                   pAttr, AttrLen);
}

Status TPCSCRaw::SCardStatus(Handle hCard, char16_t* pReaderNames, std::uint32_t& SizeReaderNames,
                             std::uint32_t& State, std::uint32_t& Protocol, std::uint8_t* pAtr,
                             std::uint32_t& AtrLen) {
    return Through(FValid, FSCardStatus, e::kStatus, [&](const Call<TSCardStatus>& call) {
        NativeDword state = State;
        NativeDword protocol = Protocol;
        NativeDword atrLen = AtrLen;
        const Status status = FetchMultiString(
            [&](char* buffer, NativeDword* size) {
                atrLen = AtrLen;  // a retried call gets the caller's ATR room again
                return call(static_cast<NativeHandle>(hCard), buffer, size, &state, &protocol, pAtr,
                            &atrLen);
            },
            pReaderNames, SizeReaderNames);
        State = static_cast<std::uint32_t>(state);
        Protocol = static_cast<std::uint32_t>(protocol);
        AtrLen = static_cast<std::uint32_t>(atrLen);
        return status;
    });
}

}  // namespace pcsc
