#include "pcsc/PCSCRaw.h"

#include "pcsc/ModuleLoader.h"

namespace pcsc {

TPCSCRaw::TPCSCRaw() = default;

TPCSCRaw::~TPCSCRaw() {
    if (FValid) Shutdown();
}

bool TPCSCRaw::Initialize() {
    if (FValid) return true;  // already bound: loading again would leak a reference
    const platform::ModuleHandle module = platform::LoadSmartCardLibrary();
    if (!module) return false;

    auto bind = [module](auto& field, const auto& entry) {
        field = platform::FindEntry(module, entry);
    };
    namespace e = platform::entries;
    bind(FSCardBeginTransaction, e::kBeginTransaction);
    bind(FSCardCancel, e::kCancel);
    bind(FSCardConnect, e::kConnect);
    bind(FSCardControl, e::kControl);
    bind(FSCardDisconnect, e::kDisconnect);
    bind(FSCardEndTransaction, e::kEndTransaction);
    bind(FSCardEstablishContext, e::kEstablishContext);
    bind(FSCardFreeMemory, e::kFreeMemory);
    bind(FSCardGetAttrib, e::kGetAttrib);
    bind(FSCardGetProviderId, e::kGetProviderId);
    bind(FSCardGetStatusChange, e::kGetStatusChange);
    bind(FSCardListReaders, e::kListReaders);
    bind(FSCardListCards, e::kListCards);
    bind(FSCardListInterfaces, e::kListInterfaces);
    bind(FSCardListReaderGroups, e::kListReaderGroups);
    bind(FSCardLocateCards, e::kLocateCards);
    bind(FSCardReconnect, e::kReconnect);
    bind(FSCardReleaseContext, e::kReleaseContext);
    bind(FSCardTransmit, e::kTransmit);
    bind(FSCardSetAttrib, e::kSetAttrib);
    bind(FSCardStatus, e::kStatus);
    FSCardIsValidContext = nullptr;  // never bound

    FValid = FSCardConnect && FSCardControl && FSCardDisconnect && FSCardEstablishContext &&
             FSCardGetAttrib && FSCardListReaders && FSCardReconnect && FSCardReleaseContext &&
             FSCardTransmit && FSCardStatus;
    if (!FValid) {
        // Incomplete library: nothing will ever call into it, so let it go
        // now rather than keep it loaded for the life of the process.
        platform::FreeModule(module);
        return false;
    }
    FhWinSCard = module;
    return true;
}

bool TPCSCRaw::Shutdown() {
    if (!FValid) return false;
    FValid = false;
    platform::FreeModule(FhWinSCard);
    FhWinSCard = 0;
    return true;
}

std::uint32_t TPCSCRaw::CTLCode(std::uint32_t DeviceType, std::uint32_t Function,
                                std::uint32_t Method, std::uint32_t Access) {
    return platform::CtlCode(DeviceType, Function, Method, Access);
}

std::uint32_t TPCSCRaw::SCardCTLCode(std::uint32_t Code) const {
    return platform::SmartCardCtlCode(Code);
}

Status TPCSCRaw::SCardIsValidContext(Handle) {
    return SCARD_E_UNSUPPORTED_FEATURE;
}

bool ReaderMultiStringToList(const char16_t* Buffer, std::int32_t Size, StringList* List) {
    if (!List) return false;
    List->clear();
    if (Size < 0) return false;  // a size can only come out negative from a broken caller
    if (!Buffer || Size == 0) return true;
    if (Size == 1) return Buffer[0] == u'\0';
    if (Buffer[Size - 1] != u'\0' || Buffer[Size - 2] != u'\0') return false;
    std::u16string name;
    for (std::int32_t i = 0; i < Size; ++i) {
        if (Buffer[i] != u'\0') {
            name.push_back(Buffer[i]);
        } else {
            if (!name.empty()) List->push_back(name);
            name.clear();
        }
    }
    return true;
}

}  // namespace pcsc
