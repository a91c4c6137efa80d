// What one check produced, for the printers and the exit status: the pane's
// pieces as the check appended them, plus what a fleet tool needs to know
// without reading the texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "checks/Report.h"
#include "checks/SerialCheck.h"
#include "checks/Tabs.h"
#include "cli/Options.h"
#include "pcsc/PCSCDef.h"
#include "pcsc/Reader.h"

namespace cli {

// The check's tab caption.
inline std::u16string_view CheckTitle(CheckId id) {
    switch (id) {
        case CheckId::Service: return checks::kServiceTabCaption;
        case CheckId::Serial: return checks::kSerialTabCaption;
        case CheckId::Direct: return checks::kDirectTabCaption;
    }
    return u"";
}
// The same in UTF-8, a static text.
const char* CheckTitleUtf8(CheckId id);

// A reader's details as the service check's manager read them at discovery.
struct ReaderDetails {
    std::u16string displayName;  // empty: not read
    std::u16string vendor;
    std::u16string serial;
    std::optional<std::string> driverVersion;  // "1.23"; nullopt: not read
    std::optional<std::string> firmwareVersion;
};

// A reader's card as the run's one poll saw it.
struct CardSeen {
    pcsc::TCardState state = pcsc::TCardState::csUnknown;
    pcsc::Bytes atr;  // when the reader reported one
};

struct FoundReader {
    std::u16string name;
    // The pane piece that shows this reader (its details go after it).
    std::size_t pieceIndex = 0;
    // Only for readers found through the service with --details; nullopt
    // when the reader was gone by the time its event was dispatched.
    std::optional<ReaderDetails> details;
    // The name's bytes when some of them are not UTF-8 (pcsc-lite passes a
    // driver's bytes through): shown in hexadecimal so that a technician can
    // quote them.
    std::optional<std::string> nameBytes = std::nullopt;
    // Service check: the reader's card; nullopt when the reader was gone.
    std::optional<CardSeen> card = std::nullopt;
};

struct CheckOutcome {
    CheckId id = CheckId::Service;
    std::vector<checks::ReportPiece> pieces;
    std::vector<FoundReader> readers;           // pcsc, direct
    std::vector<checks::SerialPort> ports;      // com
    std::optional<pcsc::Status> establishCode;  // pcsc, direct: absent when not called
    std::optional<pcsc::Status> listCode;       // pcsc, direct: absent when not called
    // pcsc, direct: the library answered the listing with a list that could
    // not be read.
    bool listMalformed = false;
    // direct: each reader's name as the library's bytes, in list order.
    std::vector<std::string> listedBytes;
    std::optional<bool> serviceReached;  // pcsc
    // The check could not reach the smart-card service or library, or the
    // service answered but its reader list could not be read.
    bool unreachable = false;
    // The error that stopped the check (the window shows it in a message
    // box); UTF-8.
    std::optional<std::string> error;
};

}  // namespace cli
