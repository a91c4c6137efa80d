// A report pane over a rich-edit control: each piece is appended at the end
// with its own style and colour, through the control's own messages.
#pragma once

#include <windows.h>

#include "checks/Report.h"

namespace gui_win32 {

class RichEditPane : public checks::ReportPane {
public:
    void Attach(HWND control) { control_ = control; }
    HWND Handle() const { return control_; }

    void Clear() override;
    // Selection at the end (WM_GETTEXTLENGTH, EM_EXSETSEL), attributes of the
    // empty selection (EM_SETCHARFORMAT: effects and colour only), then the
    // text in place of the selection (EM_REPLACESEL).
    void Append(std::u16string_view text, checks::Style style, checks::Color color) override;

private:
    HWND control_ = nullptr;
};

}  // namespace gui_win32
