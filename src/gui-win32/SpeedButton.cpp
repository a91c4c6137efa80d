#include "SpeedButton.h"

#include <commctrl.h>
#include <windowsx.h>

#include <string>

#include "ControlIds.h"
#include "TextExtent.h"

namespace gui_win32 {
namespace {

struct ButtonState {
    HBITMAP picture = nullptr;
    HFONT font = nullptr;
    bool hot = false;      // the mouse is over it
    bool pressed = false;  // the left button went down on it and is still down
};

ButtonState* StateOf(HWND window) {
    return reinterpret_cast<ButtonState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void Click(HWND window) {
    SendMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), BN_CLICKED),
                 reinterpret_cast<LPARAM>(window));
}

int PictureSize(HBITMAP picture) {
    BITMAP info{};
    return picture && GetObjectW(picture, sizeof info, &info) ? info.bmWidth : 0;
}

// Between the picture and the caption: 4 pixels beside a 24-pixel picture,
// as much more as the picture is larger.
int Spacing(int pictureSize) {
    return pictureSize / 6;
}

// Room for the hover frame around picture and caption.
constexpr int kFrame = 2;

void Paint(HWND window, ButtonState& state) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

    const bool down = state.pressed && state.hot;
    if (down) {
        DrawEdge(dc, &client, BDR_SUNKENOUTER, BF_RECT);
    } else if (state.hot) {
        DrawEdge(dc, &client, BDR_RAISEDINNER, BF_RECT);
    }

    const std::wstring caption = WindowText(window);
    HGDIOBJ oldFont = SelectObject(dc, state.font ? state.font : GetStockObject(DEFAULT_GUI_FONT));
    SIZE text{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);

    // Picture and caption centred together.
    const int picture = PictureSize(state.picture);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const int shift = down ? 1 : 0;
    int x = (width - (picture + Spacing(picture) + text.cx)) / 2 + shift;
    if (state.picture) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, state.picture);
        BitBlt(dc, x, (height - picture) / 2 + shift, picture, picture, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    x += picture + Spacing(picture);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    TextOutW(dc, x, (height - text.cy) / 2 + shift, caption.c_str(),
             static_cast<int>(caption.size()));
    SelectObject(dc, oldFont);
    EndPaint(window, &ps);
}

LRESULT CALLBACK SpeedButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ButtonState* state = StateOf(window);
    switch (message) {
        case WM_NCCREATE: {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            auto* made = new ButtonState;
            made->picture = static_cast<HBITMAP>(create->lpCreateParams);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(made));
            break;
        }
        case WM_NCDESTROY:
            delete state;
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            break;
        case WM_SETFONT:
            if (state) state->font = reinterpret_cast<HFONT>(wParam);
            if (LOWORD(lParam)) InvalidateRect(window, nullptr, TRUE);
            return 0;
        case WM_GETFONT: return reinterpret_cast<LRESULT>(state ? state->font : nullptr);
        case WM_ERASEBKGND: return 1;  // painted whole in WM_PAINT
        case WM_PAINT:
            if (state) {
                Paint(window, *state);
                return 0;
            }
            break;
        case WM_MOUSEMOVE:
            if (state) {
                POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                RECT client;
                GetClientRect(window, &client);
                const bool inside = PtInRect(&client, p) != 0;
                if (inside && !state->hot) {
                    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
                    TrackMouseEvent(&track);
                }
                if (inside != state->hot) {
                    state->hot = inside;
                    InvalidateRect(window, nullptr, FALSE);
                }
            }
            return 0;
        case WM_MOUSELEAVE:
            if (state && state->hot) {
                state->hot = false;
                InvalidateRect(window, nullptr, FALSE);
            }
            return 0;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            // No SetFocus: the button never takes the keyboard focus.
            if (state) {
                state->pressed = true;
                state->hot = true;
                SetCapture(window);
                InvalidateRect(window, nullptr, FALSE);
            }
            return 0;
        case WM_LBUTTONUP:
            if (state && state->pressed) {
                state->pressed = false;
                const bool clicked = state->hot;
                ReleaseCapture();
                InvalidateRect(window, nullptr, FALSE);
                if (clicked) Click(window);
            }
            return 0;
        case WM_CAPTURECHANGED:
            if (state && state->pressed) {
                state->pressed = false;
                InvalidateRect(window, nullptr, FALSE);
            }
            return 0;
        case BM_CLICK: Click(window); return 0;
        case BM_SETIMAGE:
            if (state && wParam == IMAGE_BITMAP) {
                HBITMAP previous = state->picture;
                state->picture = reinterpret_cast<HBITMAP>(lParam);
                InvalidateRect(window, nullptr, FALSE);
                return reinterpret_cast<LRESULT>(previous);
            }
            return 0;
        case BM_GETIMAGE:
            return state && wParam == IMAGE_BITMAP ? reinterpret_cast<LRESULT>(state->picture) : 0;
        case BCM_GETIDEALSIZE:
            // Picture, spacing and caption side by side, inside the hover frame.
            if (auto* size = reinterpret_cast<SIZE*>(lParam); size && state) {
                const SIZE text = TextExtent(state->font, WindowText(window));
                const int picture = PictureSize(state->picture);
                size->cx = picture + Spacing(picture) + text.cx + 2 * kFrame;
                size->cy = (picture > text.cy ? picture : text.cy) + 2 * kFrame;
                return TRUE;
            }
            return FALSE;
        case WM_GETDLGCODE: return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        case WM_SETTEXT: {
            const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
            InvalidateRect(window, nullptr, TRUE);
            return result;
        }
        default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool RegisterSpeedButtonClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = SpeedButtonProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_HAND);
    wc.lpszClassName = kSpeedButtonClass;
    return RegisterClassExW(&wc) != 0;
}

HWND CreateSpeedButton(HWND parent, int id, const wchar_t* caption, HBITMAP picture,
                       const RECT& place, HFONT font) {
    HWND button = CreateWindowExW(
        0, kSpeedButtonClass, caption, WS_CHILD | WS_VISIBLE, place.left, place.top,
        place.right - place.left, place.bottom - place.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), picture);
    if (button) SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return button;
}

}  // namespace gui_win32
