#include "cli/TextPrinter.h"

#include <algorithm>
#include <vector>

#include "checks/Card.h"
#include "checks/ShownText.h"
#include "pcsc/TextConversions.h"
#include "pcsc/Tools.h"

namespace cli {
namespace {

constexpr char16_t kReplacement = 0xFFFD;
constexpr std::u16string_view kNotRead = u"-";
constexpr std::u16string_view kDetailIndent = u"  ";

// Control characters would act on the terminal: they are shown as U+FFFD.
// Tab stays. (Texts from outside reach the printer already made safe by the
// check that wrote them; this guards the terminal all the same.)
bool IsControl(char16_t c) {
    return (c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F);
}

std::u16string TextOrNotRead(const std::u16string& text) {
    return text.empty() ? std::u16string(kNotRead) : checks::ShownText(text);
}

std::u16string VersionOrNotRead(const std::optional<std::string>& version) {
    return version ? pcsc::Utf8ToUtf16(*version) : std::u16string(kNotRead);
}

}  // namespace

std::string AnsiAttributes(checks::Style style, checks::Color color) {
    std::string codes;
    const auto add = [&codes](const std::string& code) {
        if (!codes.empty()) codes += ';';
        codes += code;
    };
    if (style.bold) add("1");
    if (style.italic) add("3");
    if (style.underline) add("4");
    if (style.strikeOut) add("9");
    const unsigned red = color & 0xFF;
    const unsigned green = (color >> 8) & 0xFF;
    const unsigned blue = (color >> 16) & 0xFF;
    if (color == checks::kRed) {
        add("31");
    } else if (color == checks::kGreen) {
        add("32");
    } else if (color != checks::kBlack) {
        add("38;2;" + std::to_string(red) + ";" + std::to_string(green) + ";" +
            std::to_string(blue));
    }
    return codes.empty() ? std::string() : "\x1b[" + codes + "m";
}

std::u16string DisplayNameLine(const ReaderDetails& d) {
    return u"Nom affiché : " + TextOrNotRead(d.displayName);
}
std::u16string VendorLine(const ReaderDetails& d) {
    return u"Fabricant : " + TextOrNotRead(d.vendor);
}
std::u16string SerialLine(const ReaderDetails& d) {
    return u"Numéro de série : " + TextOrNotRead(d.serial);
}
std::u16string DriverVersionLine(const ReaderDetails& d) {
    return u"Version du pilote : " + VersionOrNotRead(d.driverVersion);
}
std::u16string FirmwareVersionLine(const ReaderDetails& d) {
    return u"Version du micrologiciel : " + VersionOrNotRead(d.firmwareVersion);
}
std::u16string NameBytesLine(const std::string& nameBytes) {
    return u"Octets du nom : " +
           pcsc::BytesToHexString(pcsc::Bytes(nameBytes.begin(), nameBytes.end()));
}
std::u16string CardLine(const std::optional<CardSeen>& card) {
    const CardSeen seen = card.value_or(CardSeen{});
    return u"Carte : " + checks::CardText(seen.state, seen.atr);
}

void TextPrinter::Put(std::u16string_view text, checks::Style style, checks::Color color) {
    const std::string attributes = color_ ? AnsiAttributes(style, color) : std::string();
    std::u16string segment;
    const auto flushSegment = [&] {
        if (segment.empty()) return;
        line_ += attributes;
        line_ += pcsc::Utf16ToUtf8(segment);
        if (!attributes.empty()) line_ += "\x1b[0m";
        segment.clear();
    };
    for (const char16_t c : text) {
        if (afterCarriageReturn_) {
            afterCarriageReturn_ = false;
            if (c == u'\n') continue;  // the LF of a CR LF
        }
        if (c == u'\r' || c == u'\n') {
            flushSegment();
            EndLine();
            afterCarriageReturn_ = c == u'\r';
            continue;
        }
        segment += IsControl(c) ? kReplacement : c;
    }
    flushSegment();
}

void TextPrinter::EndLine() {
    line_ += '\n';
    out_.Write(line_);
    line_.clear();
}

void TextPrinter::FlushOpenLine() {
    if (!line_.empty()) EndLine();
    afterCarriageReturn_ = false;
}

void TextPrinter::Line(std::u16string_view text, checks::Style style, checks::Color color) {
    FlushOpenLine();
    Put(text, style, color);
    if (!line_.empty() || text.empty()) EndLine();
    afterCarriageReturn_ = false;
}

void TextPrinter::Details(const ReaderDetails& details,
                          const std::optional<std::string>& nameBytes) {
    if (nameBytes) Line(std::u16string(kDetailIndent) + NameBytesLine(*nameBytes));
    for (const std::u16string& line :
         {DisplayNameLine(details), VendorLine(details), SerialLine(details),
          DriverVersionLine(details), FirmwareVersionLine(details)}) {
        Line(std::u16string(kDetailIndent) + line);
    }
}

void TextPrinter::Check(const CheckOutcome& outcome, bool details) {
    FlushOpenLine();
    if (checksPrinted_++ > 0) BlankLine();
    Line(u"== " + std::u16string(CheckTitle(outcome.id)) + u" ==", checks::kBold, checks::kBlack);
    // The readers by the piece that shows them, so that each piece finds its
    // readers without a walk over all of them.
    std::vector<const FoundReader*> byPiece;
    if (details && outcome.id == CheckId::Service) {
        for (const FoundReader& reader : outcome.readers) byPiece.push_back(&reader);
        std::stable_sort(byPiece.begin(), byPiece.end(),
                         [](const FoundReader* a, const FoundReader* b) {
                             return a->pieceIndex < b->pieceIndex;
                         });
    }
    auto next = byPiece.begin();
    for (std::size_t i = 0; i < outcome.pieces.size(); ++i) {
        const checks::ReportPiece& piece = outcome.pieces[i];
        Put(piece.text, piece.style, piece.color);
        for (; next != byPiece.end() && (*next)->pieceIndex == i; ++next) {
            FlushOpenLine();
            Details((*next)->details.value_or(ReaderDetails{}), (*next)->nameBytes);
            Line(std::u16string(kDetailIndent) + CardLine((*next)->card));
        }
    }
    FlushOpenLine();
}

}  // namespace cli
