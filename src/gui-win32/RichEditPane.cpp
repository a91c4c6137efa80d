#include "RichEditPane.h"

#include <richedit.h>

#include <string>

namespace gui_win32 {

void RichEditPane::Clear() {
    if (control_) SetWindowTextW(control_, L"");
}

void RichEditPane::Append(std::u16string_view text, checks::Style style, checks::Color color) {
    if (!control_) return;
    // A position past the end (the length counts each line end as two
    // characters, the control as one) falls on the end.
    const auto length = static_cast<LONG>(SendMessageW(control_, WM_GETTEXTLENGTH, 0, 0));
    CHARRANGE selection{length, length};
    SendMessageW(control_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));

    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_STRIKEOUT | CFM_COLOR;
    format.dwEffects = (style.bold ? CFE_BOLD : 0) | (style.italic ? CFE_ITALIC : 0) |
                       (style.underline ? CFE_UNDERLINE : 0) |
                       (style.strikeOut ? CFE_STRIKEOUT : 0);  // and not CFE_AUTOCOLOR
    format.crTextColor = static_cast<COLORREF>(color);
    SendMessageW(control_, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));

    const std::wstring piece(text.begin(), text.end());
    SendMessageW(control_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
}

}  // namespace gui_win32
