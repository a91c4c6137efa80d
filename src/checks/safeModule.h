// The direct reader check: lists the readers by calling the smart-card
// library itself, without the reader manager, and explains every status
// code it gets in English.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "checks/Report.h"
#include "pcsc/PCSCDef.h"

namespace checks {

// Room the listing is given, in 8-bit characters, final empty name included.
inline constexpr std::size_t kDirectReaderBufferSize = 256;

// English explanation of a status code; any code without one of its own
// gives "Unknown Error: " and the code as a signed 32-bit decimal number.
std::u16string SCardErrorText(pcsc::Status Code);

// "Erreur (<code>) : <explanation>", without a line end.
std::u16string ErrorDetailLine(pcsc::Status Code);

// The lines that end a report whose reader list could not be read: for a
// listing call that failed, "Erreur lors du listage des lecteurs" (bold red)
// and the code's detail line; for an answer that could not be split,
// "Erreur durant le parsing des lecteurs" (bold red).
void AppendListingFailed(ReportPane& pane, pcsc::Status Code);
void AppendListingMalformed(ReportPane& pane);

// Splits an 8-bit multi-string (names ended by NUL, the list by an empty
// name) and adds the names, in order, at the end of List. Never reads past
// Buffer: when Buffer ends before the empty name, the names completed so far
// are added, an unfinished one is dropped, and the result is false.
bool AnsiMultiStringToList(pcsc::StringList& List, std::span<const char> Buffer);

// Replaces the items of the hidden reader list with the names in Buffer;
// same result as AnsiMultiStringToList.
bool MultiStringToComboBox(pcsc::StringList& ComboBox, std::span<const char> Buffer);

// What one run of the direct check obtained. A code is absent when its call
// was not made (an earlier step failed, or the library or the function could
// not be found).
struct DirectCheckResult {
    std::optional<pcsc::Status> establish;
    std::optional<pcsc::Status> list;
    bool splitFailed = false;
    pcsc::StringList names;  // the names this run listed, in order
    // The same names' bytes as the library gave them (on pcsc-lite, bytes
    // that are not UTF-8 show as U+FFFD in names).
    std::vector<std::string> nameBytes;
};

// Runs the check: clears the pane and writes the report into it. A run that
// lists at least one reader replaces the items of hiddenReaders with the
// names; any other run leaves them as they were.
DirectCheckResult RunDirectCheck(ReportPane& pane, pcsc::StringList& hiddenReaders);

}  // namespace checks
