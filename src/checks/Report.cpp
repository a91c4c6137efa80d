#include "checks/Report.h"

namespace checks {

void RecordingPane::Clear() {
    pieces_.clear();
}

void RecordingPane::Append(std::u16string_view text, Style style, Color color) {
    pieces_.push_back(ReportPiece{std::u16string(text), style, color});
}

std::u16string RecordingPane::Text() const {
    std::u16string text;
    for (const ReportPiece& piece : pieces_) text += piece.text;
    return text;
}

}  // namespace checks
