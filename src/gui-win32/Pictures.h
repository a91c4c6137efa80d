// The flat buttons' pictures at the display's scale. Each is drawn at build
// time from its SVG source in every size of kPictureSizes (24 x 24 at 100 %
// up to 300 %), as 24-bit bitmaps on white.
#pragma once

#include <windows.h>

namespace gui_win32 {

inline constexpr int kPictureSizes[] = {VARDEL_PICTURE_SIZES};

// Picture `base` (IDB_SEARCH, IDB_QUIT) `size` pixels square: the one drawn
// in that size, or else the nearest larger one shrunk with halftoning (the
// largest one grown, past it). Null when the resource is missing. The caller
// deletes it.
HBITMAP LoadPicture(HINSTANCE instance, int base, int size);

}  // namespace gui_win32
