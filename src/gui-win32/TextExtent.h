// What a text needs on screen in a font.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace gui_win32 {

// The width and height of `text` on one line in `font` (the system font
// when null).
SIZE TextExtent(HFONT font, std::wstring_view text);

// The text of a window of this process.
std::wstring WindowText(HWND window);

}  // namespace gui_win32
