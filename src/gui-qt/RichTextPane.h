// A report pane on a read-only rich-text control: each appended piece is
// inserted at the end in its own style and colour, and the pane's face and
// size stay as they are.
#pragma once

#include <QTextEdit>

#include <string_view>

#include "checks/Report.h"

class QColor;

namespace gui {

// 0x00BBGGRR -> QColor, and back.
QColor ToQColor(checks::Color color);
checks::Color FromQColor(const QColor& color);

class RichTextPane : public QTextEdit, public checks::ReportPane {
    Q_OBJECT

public:
    explicit RichTextPane(QWidget* parent = nullptr);

    void Clear() override;
    // Puts the insertion point at the end, sets the style and colour of
    // that empty selection (and nothing else of the font), and replaces it
    // with the text: earlier pieces keep their own attributes, and the next
    // piece sets its own afresh. CR LF in the text ends a line.
    void Append(std::u16string_view text, checks::Style style, checks::Color color) override;
};

}  // namespace gui
