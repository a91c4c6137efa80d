// A label: one line of text, centred, black on the window's white, in the
// font it is given (WM_SETFONT), and cut at its edges rather than wrapped
// when a font runs wider than the one it was designed with. It answers
// BCM_GETIDEALSIZE as a button does: the size its text needs.
#pragma once

#include <windows.h>

namespace gui_win32 {

// Registers the window class (kLabelClass); once per process.
bool RegisterLabelClass(HINSTANCE instance);

HWND CreateLabel(HWND parent, int id, const wchar_t* text, const RECT& place);

}  // namespace gui_win32
