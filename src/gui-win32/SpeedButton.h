// A flat picture button: no frame until the mouse is over it, a square
// picture (24 x 24 at 100 %) left of its caption, a hand cursor, and it never
// takes the keyboard focus. A click, or BM_CLICK, sends its parent WM_COMMAND
// with BN_CLICKED like a push button does. Like a push button it takes a new
// picture with BM_SETIMAGE (IMAGE_BITMAP) and tells the size its picture and
// caption need with BCM_GETIDEALSIZE.
#pragma once

#include <windows.h>

namespace gui_win32 {

// Registers the window class (kSpeedButtonClass); once per process.
bool RegisterSpeedButtonClass(HINSTANCE instance);

// Creates a speed button; `picture` (24-bit, white background drawn as the
// button's) stays owned by the caller and must outlive the button (or its
// replacement by BM_SETIMAGE).
HWND CreateSpeedButton(HWND parent, int id, const wchar_t* caption, HBITMAP picture,
                       const RECT& place, HFONT font);

}  // namespace gui_win32
