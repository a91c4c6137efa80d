#include "Pictures.h"

#include <iterator>

namespace gui_win32 {

HBITMAP LoadPicture(HINSTANCE instance, int base, int size) {
    int drawn = kPictureSizes[std::size(kPictureSizes) - 1];
    for (int candidate : kPictureSizes) {
        if (candidate >= size) {
            drawn = candidate;
            break;
        }
    }
    auto* picture = static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(base + drawn),
                                                    IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!picture || drawn == size || size <= 0) return picture;

    HDC screen = GetDC(nullptr);
    HDC source = CreateCompatibleDC(screen);
    HDC target = CreateCompatibleDC(screen);
    HBITMAP resized = CreateCompatibleBitmap(screen, size, size);
    if (resized) {
        HGDIOBJ oldSource = SelectObject(source, picture);
        HGDIOBJ oldTarget = SelectObject(target, resized);
        SetStretchBltMode(target, HALFTONE);
        SetBrushOrgEx(target, 0, 0, nullptr);
        StretchBlt(target, 0, 0, size, size, source, 0, 0, drawn, drawn, SRCCOPY);
        SelectObject(source, oldSource);
        SelectObject(target, oldTarget);
    }
    DeleteDC(source);
    DeleteDC(target);
    ReleaseDC(nullptr, screen);
    DeleteObject(picture);
    return resized;
}

}  // namespace gui_win32
