// A flat picture button: no frame until the mouse is over it, a 24 x 24
// picture left of its caption, a hand cursor, and it never takes the keyboard
// focus. A click, or BM_CLICK, sends its parent WM_COMMAND with BN_CLICKED
// like a push button does.
#pragma once

#include <windows.h>

namespace gui_win32 {

// Registers the window class (kSpeedButtonClass); once per process.
bool RegisterSpeedButtonClass(HINSTANCE instance);

// Creates a speed button; `picture` (24-bit, white background drawn as the
// button's) stays owned by the caller and must outlive the button.
HWND CreateSpeedButton(HWND parent, int id, const wchar_t* caption, HBITMAP picture, int x, int y,
                       int width, int height, HFONT font);

}  // namespace gui_win32
