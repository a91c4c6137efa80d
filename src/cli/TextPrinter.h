// The reports as terminal text: each piece's style and colour as ANSI escape
// sequences when colours are on, nothing but the text otherwise. CR LF ends
// a line; a report whose last piece has no CR LF still ends its line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "checks/Report.h"
#include "cli/Outcome.h"
#include "cli/Output.h"

namespace cli {

// The SGR sequence that sets a piece's attributes ("" for plain black: the
// terminal's own colours). Black is left to the terminal, which may have a
// dark background.
std::string AnsiAttributes(checks::Style style, checks::Color color);

// The detail lines shown under a reader (without indentation or line end),
// each text as a line shows it (checks::ShownText).
std::u16string DisplayNameLine(const ReaderDetails& details);
std::u16string VendorLine(const ReaderDetails& details);
std::u16string SerialLine(const ReaderDetails& details);
std::u16string DriverVersionLine(const ReaderDetails& details);
std::u16string FirmwareVersionLine(const ReaderDetails& details);
// The bytes of a reader name that are not all UTF-8, in hexadecimal.
std::u16string NameBytesLine(const std::string& nameBytes);
// "Carte : absente", "Carte : présente (ATR …, T=1)"...; "état inconnu"
// for a reader whose card was not read.
std::u16string CardLine(const std::optional<CardSeen>& card);

class TextPrinter {
public:
    TextPrinter(Output& out, bool color) : out_(out), color_(color) {}

    // The check's tab caption, then its pieces; with details, each reader's
    // details and card under its line.
    void Check(const CheckOutcome& outcome, bool details);

    // One line of text (a line end inside it ends a line too).
    void Line(std::u16string_view text, checks::Style style = checks::kPlain,
              checks::Color color = checks::kBlack);
    // The detail lines, indented: the name's bytes when they are not all
    // UTF-8, then the five details.
    void Details(const ReaderDetails& details, const std::optional<std::string>& nameBytes);
    void BlankLine() { out_.Write("\n"); }

private:
    // Adds text to the current line, writing out every line it ends.
    void Put(std::u16string_view text, checks::Style style, checks::Color color);
    void EndLine();
    void FlushOpenLine();

    Output& out_;
    const bool color_;
    std::string line_;  // the current line, not yet ended
    // A CR just ended a line: an LF right after it (even in the next piece)
    // belongs to the same line end.
    bool afterCarriageReturn_ = false;
    int checksPrinted_ = 0;
};

}  // namespace cli
