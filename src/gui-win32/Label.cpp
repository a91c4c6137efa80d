#include "Label.h"

#include <commctrl.h>

#include "ControlIds.h"
#include "TextExtent.h"

namespace gui_win32 {
namespace {

HFONT FontOf(HWND window) {
    return reinterpret_cast<HFONT>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void Paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT box;
    GetClientRect(window, &box);
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const std::wstring text = WindowText(window);
    HFONT font = FontOf(window);
    HGDIOBJ old =
        SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box,
              DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(window, &ps);
}

LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETFONT:
            SetWindowLongPtrW(window, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
            if (LOWORD(lParam)) InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_GETFONT: return reinterpret_cast<LRESULT>(FontOf(window));
        case WM_ERASEBKGND: return 1;  // painted whole in WM_PAINT
        case WM_PAINT: Paint(window); return 0;
        case WM_SETTEXT: {
            const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
            InvalidateRect(window, nullptr, FALSE);
            return result;
        }
        case BCM_GETIDEALSIZE:
            if (auto* size = reinterpret_cast<SIZE*>(lParam)) {
                *size = TextExtent(FontOf(window), WindowText(window));
                return TRUE;
            }
            return FALSE;
        default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

bool RegisterLabelClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = LabelProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kLabelClass;
    return RegisterClassExW(&wc) != 0;
}

HWND CreateLabel(HWND parent, int id, const wchar_t* text, const RECT& place) {
    return CreateWindowExW(0, kLabelClass, text, WS_CHILD | WS_VISIBLE, place.left, place.top,
                           place.right - place.left, place.bottom - place.top, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                           nullptr);
}

}  // namespace gui_win32
