#include "TextExtent.h"

namespace gui_win32 {

SIZE TextExtent(HFONT font, std::wstring_view text) {
    SIZE size{};
    HDC screen = GetDC(nullptr);
    if (!screen) return size;
    HGDIOBJ old =
        SelectObject(screen, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    GetTextExtentPoint32W(screen, text.data(), static_cast<int>(text.size()), &size);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    return size;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)), L'\0');
    const int got = GetWindowTextW(window, text.data(), static_cast<int>(text.size() + 1));
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

}  // namespace gui_win32
