// The direct check calls the smart-card library itself rather than through
// the service binding, so that a fault in the binding or in the reader
// manager cannot hide what the library answers.
#include "checks/safeModule.h"

#include "checks/ShownText.h"
#include "pcsc/InFlight.h"
#include "pcsc/ModuleLoader.h"
#include "pcsc/TextConversions.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

namespace checks {
namespace {

namespace platform = pcsc::platform;

std::u16string SignedDecimal(pcsc::Status code) {
    const std::string digits = std::to_string(static_cast<std::int32_t>(code));
    return std::u16string(digits.begin(), digits.end());
}

std::u16string Line(std::u16string_view text) {
    std::u16string line(text);
    line += kLineEnd;
    return line;
}

// The library and its three functions, for one run. Each function is looked
// up when the run first needs it, and the library is released at the run's
// end, so a library installed, replaced or fixed while the tool is open is
// found at the next run. A missing library and a missing function are both
// "the call cannot be made". A context it established is released at the
// latest when it goes, whatever ends the run.
class DirectLibrary {
public:
    DirectLibrary() = default;
    ~DirectLibrary() {
        ReleaseContext();
        platform::FreeModule(module_);
    }
    DirectLibrary(const DirectLibrary&) = delete;
    DirectLibrary& operator=(const DirectLibrary&) = delete;

    std::optional<pcsc::Status> EstablishContext(std::uint32_t scope) {
        auto call = Find(platform::entries::kEstablishContext);
        if (!call) return std::nullopt;
        platform::NativeHandle context = 0;
        pcsc::InFlightCall in(platform::entries::kEstablishContext.shown);
        const pcsc::Status status = platform::StatusOf(call(scope, nullptr, nullptr, &context));
        if (status == pcsc::SCARD_S_SUCCESS) context_ = context;
        return status;
    }

    // Lists with the established context.
    std::optional<pcsc::Status> ListReaders(std::span<char> buffer) {
        auto call = Find(platform::entries::kListReadersAnsi);
        if (!call || !context_) return std::nullopt;
        platform::NativeDword length = static_cast<platform::NativeDword>(buffer.size());
        pcsc::InFlightCall in(platform::entries::kListReadersAnsi.shown);
        return platform::StatusOf(call(*context_, nullptr, buffer.data(), &length));
    }

    // Its result is of no use: the run is over either way.
    void ReleaseContext() {
        if (!context_) return;
        if (auto call = Find(platform::entries::kReleaseContext)) {
            pcsc::InFlightCall in(platform::entries::kReleaseContext.shown);
            call(*context_);
        }
        context_.reset();
    }

private:
    template <typename Function>
    Function Find(const platform::EntryPoint<Function>& entry) {
        if (!loaded_) {
            module_ = platform::LoadSmartCardLibrary();
            loaded_ = true;
        }
        if (!module_) return nullptr;
        return platform::FindEntry(module_, entry);
    }

    platform::ModuleHandle module_ = 0;
    bool loaded_ = false;
    std::optional<platform::NativeHandle> context_;
};

// The names of an 8-bit multi-string, as bytes, added to names; true when the
// empty name that ends the list lies inside the buffer. Never reads past it:
// an unfinished name is not a name.
bool SplitAnsiMultiString(std::span<const char> Buffer, std::vector<std::string_view>& names) {
    std::size_t position = 0;
    while (position < Buffer.size()) {
        if (Buffer[position] == '\0') return true;  // the empty name that ends the list
        std::size_t end = position;
        while (end < Buffer.size() && Buffer[end] != '\0') ++end;
        if (end == Buffer.size()) break;  // a name cut off by the end of the buffer
        names.emplace_back(Buffer.data() + position, end - position);
        position = end + 1;
    }
    return false;
}

}  // namespace

std::u16string SCardErrorText(pcsc::Status Code) {
    switch (Code) {
        case pcsc::SCARD_F_INTERNAL_ERROR:  // 0x80100001
            return u"An internal consistency check failed.";
        case pcsc::SCARD_E_CANCELLED:  // 0x80100002
            return u"The action was cancelled by an SCardCancel request.";
        case pcsc::SCARD_E_INVALID_HANDLE:  // 0x80100003
            return u"The supplied handle was invalid.";
        case pcsc::SCARD_E_INVALID_PARAMETER:  // 0x80100004
            return u"One or more of the supplied parameters could not be properly interpreted.";
        case pcsc::SCARD_E_INVALID_TARGET:  // 0x80100005
            return u"Registry startup information is missing or invalid.";
        case pcsc::SCARD_E_NO_MEMORY:  // 0x80100006
            return u"Not enough memory available to complete this command.";
        case pcsc::SCARD_F_WAITED_TOO_LONG:  // 0x80100007
            return u"An internal consistency timer has expired.";
        case pcsc::SCARD_E_INSUFFICIENT_BUFFER:  // 0x80100008
            return u"The data buffer to receive returned data is too small for the returned data.";
        case pcsc::SCARD_E_UNKNOWN_READER:  // 0x80100009
            return u"The specified reader name is not recognized.";
        case pcsc::SCARD_E_TIMEOUT:  // 0x8010000A
            return u"The user-specified timeout value has expired.";
        case pcsc::SCARD_E_SHARING_VIOLATION:  // 0x8010000B
            return u"The smart card cannot be accessed because of other connections outstanding.";
        case pcsc::SCARD_E_NO_SMARTCARD:  // 0x8010000C
            return u"The operation requires a Smart Card, but no Smart Card is currently in the device.";
        case pcsc::SCARD_E_UNKNOWN_CARD:  // 0x8010000D
            return u"The specified smart card name is not recognized.";
        case pcsc::SCARD_E_CANT_DISPOSE:  // 0x8010000E
            return u"The system could not dispose of the media in the requested manner.";
        case pcsc::SCARD_E_PROTO_MISMATCH:  // 0x8010000F
            return u"The requested protocols are incompatible with the protocol currently in use with the smart card.";
        case pcsc::SCARD_E_NOT_READY:  // 0x80100010
            return u"The reader or smart card is not ready to accept commands.";
        case pcsc::SCARD_E_INVALID_VALUE:  // 0x80100011
            return u"One or more of the supplied parameters values could not be properly interpreted.";
        case pcsc::SCARD_E_SYSTEM_CANCELLED:  // 0x80100012
            return u"The action was cancelled by the system, presumably to log off or shut down.";
        case pcsc::SCARD_F_COMM_ERROR:  // 0x80100013
            return u"An internal communications error has been detected.";
        case pcsc::SCARD_F_UNKNOWN_ERROR:  // 0x80100014
            return u"An internal error has been detected, but the source is unknown.";
        case pcsc::SCARD_E_INVALID_ATR:  // 0x80100015
            return u"An ATR obtained from the registry is not a valid ATR string.";
        case pcsc::SCARD_E_NOT_TRANSACTED:  // 0x80100016
            return u"An attempt was made to end a non-existent transaction.";
        case pcsc::SCARD_E_READER_UNAVAILABLE:  // 0x80100017
            return u"The specified reader is not currently available for use.";
        case pcsc::SCARD_P_SHUTDOWN:  // 0x80100018
            return u"PRIVATE -- Internal flag to force server termination.";
        case pcsc::SCARD_E_PCI_TOO_SMALL:  // 0x80100019
            return u"The PCI Receive buffer was too small.";
        case pcsc::SCARD_E_READER_UNSUPPORTED:  // 0x8010001A
            return u"The reader driver does not meet minimal requirements for support.";
        case pcsc::SCARD_E_DUPLICATE_READER:  // 0x8010001B
            return u"The reader driver did not produce a unique reader name.";
        case pcsc::SCARD_E_CARD_UNSUPPORTED:  // 0x8010001C
            return u"The smart card does not meet minimal requirements for support.";
        case pcsc::SCARD_E_NO_SERVICE:  // 0x8010001D
            return u"The Smart card resource manager is not running.";
        case pcsc::SCARD_E_SERVICE_STOPPED:  // 0x8010001E
            return u"The Smart card resource manager has shut down.";
        case pcsc::SCARD_W_UNSUPPORTED_CARD:  // 0x80100065
            return u"The reader cannot communicate with the smart card, due to ATR configuration conflicts.";
        case pcsc::SCARD_W_UNRESPONSIVE_CARD:  // 0x80100066
            return u"The smart card is not responding to a reset.";
        case pcsc::SCARD_W_UNPOWERED_CARD:  // 0x80100067
            return u"Power has been removed from the smart card, so that further communication is not possible.";
        case pcsc::SCARD_W_RESET_CARD:  // 0x80100068
            return u"The smart card has been reset, so any shared state information is invalid.";
        case pcsc::SCARD_W_REMOVED_CARD:  // 0x80100069
            return u"The smart card has been removed, so that further communication is not possible.";
        default: return u"Unknown Error: " + SignedDecimal(Code);
    }
}

std::u16string ErrorDetailLine(pcsc::Status Code) {
    return u"Erreur (" + SignedDecimal(Code) + u") : " + SCardErrorText(Code);
}

void AppendListingFailed(ReportPane& pane, pcsc::Status Code) {
    pane.Append(Line(u"Erreur lors du listage des lecteurs"), kBold, kRed);
    pane.Append(Line(ErrorDetailLine(Code)), kPlain, kBlack);
}

void AppendListingMalformed(ReportPane& pane) {
    pane.Append(Line(u"Erreur durant le parsing des lecteurs"), kBold, kRed);
}

bool AnsiMultiStringToList(pcsc::StringList& List, std::span<const char> Buffer) {
    std::vector<std::string_view> names;
    const bool complete = SplitAnsiMultiString(Buffer, names);
    for (const std::string_view name : names) List.push_back(pcsc::AnsiToUtf16(name));
    return complete;
}

bool MultiStringToComboBox(pcsc::StringList& ComboBox, std::span<const char> Buffer) {
    pcsc::StringList names;
    const bool complete = AnsiMultiStringToList(names, Buffer);
    ComboBox = std::move(names);
    return complete;
}

DirectCheckResult RunDirectCheck(ReportPane& pane, pcsc::StringList& hiddenReaders) {
    DirectCheckResult result;
    DirectLibrary library;
    pane.Clear();

    result.establish = library.EstablishContext(pcsc::SCARD_SCOPE_USER);
    if (!result.establish) {
        // No status code to test: nothing was established, the run ends here.
        pane.Append(Line(u"Erreur au lancement de la commande - SCardEstablishContext"), kBold,
                    kRed);
        return result;
    }
    if (*result.establish != pcsc::SCARD_S_SUCCESS) {
        pane.Append(Line(u"Erreur lors de la connexion à la DLL"), kBold, kRed);
        pane.Append(ErrorDetailLine(*result.establish), kPlain, kBlack);
        return result;
    }

    pane.Append(Line(u"Connecté à la DLL"), kBold, kGreen);
    pane.Append(Line(u"Liste des lecteurs :"), kUnderline, kBlack);

    // Zeroed, so that bytes the library leaves alone read as the list's end.
    std::array<char, kDirectReaderBufferSize> buffer{};
    result.list = library.ListReaders(buffer);
    if (!result.list) {
        pane.Append(Line(u"Erreur au lancement de la commande - SCardListReadersA"), kBold, kRed);
    } else if (*result.list != pcsc::SCARD_S_SUCCESS) {
        AppendListingFailed(pane, *result.list);
    } else {
        pcsc::StringList names;
        if (!AnsiMultiStringToList(names, buffer)) {
            result.splitFailed = true;
            AppendListingMalformed(pane);
        }
        if (names.empty()) {
            pane.Append(Line(u"Aucun lecteur trouvé"), kPlain, kRed);
        } else {
            MultiStringToComboBox(hiddenReaders, buffer);
            for (const std::u16string& name : hiddenReaders)
                pane.Append(Line(ShownText(name)), kPlain, kBlack);
            result.names = hiddenReaders;
            std::vector<std::string_view> bytes;
            SplitAnsiMultiString(buffer, bytes);
            result.nameBytes.assign(bytes.begin(), bytes.end());
        }
    }

    library.ReleaseContext();
    return result;
}

}  // namespace checks
