#include "RichTextPane.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>

namespace gui {

QColor ToQColor(checks::Color color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

checks::Color FromQColor(const QColor& color) {
    return static_cast<checks::Color>(color.red()) |
           static_cast<checks::Color>(color.green()) << 8 |
           static_cast<checks::Color>(color.blue()) << 16;
}

RichTextPane::RichTextPane(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setFrameShape(QFrame::NoFrame);
    // Report lines stay whole; a long one scrolls sideways.
    setLineWrapMode(QTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setUndoRedoEnabled(false);
}

void RichTextPane::Clear() {
    clear();
}

void RichTextPane::Append(std::u16string_view text, checks::Style style, checks::Color color) {
    // The control's own cursor, as a user would see it: at the end, nothing
    // selected, then the text replaces that empty selection.
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    // A fresh format: only what the piece says is set, the rest of the font
    // comes from the pane.
    QTextCharFormat format;
    format.setFontWeight(style.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(style.italic);
    format.setFontUnderline(style.underline);
    format.setFontStrikeOut(style.strikeOut);
    format.setForeground(ToQColor(color));
    cursor.insertText(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())), format);
    setTextCursor(cursor);
}

}  // namespace gui
