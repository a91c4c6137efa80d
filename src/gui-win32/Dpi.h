// The window is designed at 96 dots per inch (100 %); on a display of
// another scale (120 dpi = 125 %, 144 = 150 %, 192 = 200 %) every length of
// the design is scaled, so that the window is as sharp and as roomy as at
// 100 % instead of stretched by Windows (blurred) or cramped.
#pragma once

#include <windows.h>

namespace gui_win32 {

inline constexpr int kDesignDpi = 96;

// A length of the design at `dpi`, rounded to the nearest pixel.
inline int Scaled(int length, int dpi) {
    return MulDiv(length, dpi, kDesignDpi);
}

// A rectangle of the design at `dpi`. Its edges are scaled, not its size, so
// that rectangles that touch at 96 dpi still touch.
inline RECT Scaled(const RECT& design, int dpi) {
    return RECT{Scaled(design.left, dpi), Scaled(design.top, dpi), Scaled(design.right, dpi),
                Scaled(design.bottom, dpi)};
}

// The height in pixels of a font of `points` at `dpi`.
inline int PointsToPixels(int points, int dpi) {
    return MulDiv(points, dpi, 72);
}

// The scale of the monitor the window is on (Windows 10 1607 and later), or
// else the system's.
int WindowDpi(HWND window);
// The system's scale: what the rich-edit control and GDI measure points with.
int SystemDpi();

}  // namespace gui_win32
