// What the checks' tests share: report pieces shown readably when a
// comparison fails (UTF-8 text with its CR LF made visible, the style
// letters and the colour), and the entry lines every report lists.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>

#include "checks/Report.h"
#include "checks/SerialCheck.h"
#include "pcsc/TextConversions.h"

namespace checks {

// One entry of a report's list (a reader, a port): plain black, CR LF.
inline ReportPiece Entry(const std::u16string& text) {
    return {text + u"\r\n", kPlain, kBlack};
}

inline std::string Visible(const std::u16string& text) {
    std::string out;
    for (char c : pcsc::Utf16ToUtf8(text)) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

inline void PrintTo(const ReportPiece& piece, std::ostream* os) {
    char color[16];
    std::snprintf(color, sizeof color, "%06X", static_cast<unsigned>(piece.color));
    *os << "{\"" << Visible(piece.text) << "\" " << (piece.style.bold ? "B" : "")
        << (piece.style.italic ? "I" : "") << (piece.style.underline ? "U" : "")
        << (piece.style.strikeOut ? "S" : "") << (piece.style == kPlain ? "plain" : "") << " #"
        << color << "}";
}

inline void PrintTo(const SerialPort& port, std::ostream* os) {
    *os << "{" << Visible(port.port) << " : " << Visible(port.device) << "}";
}

}  // namespace checks
