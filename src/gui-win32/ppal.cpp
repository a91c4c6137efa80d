#include "ppal.h"

#include "Links.h"
#include "checks/SerialCheck.h"
#include "checks/Tabs.h"
#include "checks/safeModule.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "ControlIds.h"
#include "SpeedButton.h"
#include "resource.h"

// Windows Vista's name for the message that answers a link's ideal width
// and height (LM_GETIDEALHEIGHT in older headers).
#ifndef LM_GETIDEALSIZE
#define LM_GETIDEALSIZE (WM_USER + 0x301)
#endif

namespace gui_win32 {
namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::wstring WideFromUtf8(const std::string& text) {
    return Wide(pcsc::platform::Utf8ToUtf16(text));
}

HMENU IdOf(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

HFONT MakeFont(int pixelHeight, int weight) {
    return CreateFontW(-pixelHeight, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
}

// The designed client size of the window and the places of its children, in
// pixels at 96 dots per inch.
constexpr int kClientWidth = 596;
constexpr int kClientHeight = 427;
constexpr RECT kBevel2{8, 86, 8 + 580, 86 + 299};
constexpr RECT kPageControl1{16, 96, 16 + 561, 96 + 281};

constexpr DWORD kPaneStyle = WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE |
                             ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY | ES_DISABLENOSCROLL;

constexpr UINT kShowSelectedSheet = WM_APP + 10;

}  // namespace

Tfiche_ppal::Tfiche_ppal(HINSTANCE instance) : instance_(instance) {
    font_ = MakeFont(11, FW_NORMAL);
    titleFont_ = MakeFont(24, FW_BOLD);
    noticeFont_ = MakeFont(15, FW_NORMAL);
    white_ = CreateSolidBrush(RGB(255, 255, 255));
    searchPicture_ = static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDB_SEARCH), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    quitPicture_ = static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDB_QUIT), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    icon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
}

Tfiche_ppal::~Tfiche_ppal() {
    Close();
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(titleFont_),
                           static_cast<HGDIOBJ>(noticeFont_), static_cast<HGDIOBJ>(searchPicture_),
                           static_cast<HGDIOBJ>(quitPicture_), static_cast<HGDIOBJ>(white_)}) {
        if (object) DeleteObject(object);
    }
    if (icon_) DestroyIcon(icon_);
    if (smallIcon_) DestroyIcon(smallIcon_);
}

bool Tfiche_ppal::RegisterClasses(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kMainWindowClass;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    if (!RegisterClassExW(&wc)) return false;

    WNDCLASSEXW sheet{};
    sheet.cbSize = sizeof sheet;
    sheet.lpfnWndProc = TabSheetProc;
    sheet.hInstance = instance;
    sheet.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    sheet.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    sheet.lpszClassName = kTabSheetClass;
    if (!RegisterClassExW(&sheet)) return false;
    return RegisterSpeedButtonClass(instance);
}

bool Tfiche_ppal::Create() {
    // Fixed single border, system menu and minimise only.
    constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    constexpr DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    // Centred on the screen.
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    HWND window = CreateWindowExW(exStyle, kMainWindowClass, kMainWindowTitle, style, x, y, width,
                                  height, nullptr, nullptr, instance_, this);
    if (smallIcon_) SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    if (icon_) SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    return window != nullptr;
}

void Tfiche_ppal::Show(int showCommand) {
    ShowWindow(fiche_ppal, showCommand);
    UpdateWindow(fiche_ppal);
}

void Tfiche_ppal::Close() {
    // The watcher stops and the service contexts go while the main thread's
    // dispatcher still releases a hand-over the watcher waits in.
    service_.Stop();
    if (fiche_ppal) {
        HWND window = fiche_ppal;
        DestroyWindow(window);
    }
}

void Tfiche_ppal::ShowException(std::exception_ptr error) {
    std::wstring text;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        text = WideFromUtf8(e.what());
    } catch (...) {
        text = L"Erreur inattendue";
    }
    MessageBoxW(fiche_ppal, text.c_str(), kMainWindowTitle, MB_OK | MB_ICONERROR);
}

template <typename Handler>
void Tfiche_ppal::Guarded(Handler&& handler) {
    // No exception may cross Windows' own frames back to the message loop.
    try {
        handler();
    } catch (...) {
        ShowException(std::current_exception());
    }
}

void Tfiche_ppal::Addl1Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor) {
    pane1_.Append(AText, AStyle, AColor);
}

void Tfiche_ppal::Addl2Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor) {
    pane2_.Append(AText, AStyle, AColor);
}

void Tfiche_ppal::Addl3Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor) {
    pane3_.Append(AText, AStyle, AColor);
}

// ---- Creation ------------------------------------------------------------------

HWND Tfiche_ppal::CreatePane(HWND sheet, int id) {
    // Read-only rich text, both scroll bars, no border.
    HWND pane = CreateWindowExW(0, MSFTEDIT_CLASS, L"", kPaneStyle, 0, 91, 553, 159, sheet, IdOf(id),
                                instance_, nullptr);
    if (!pane) throw std::runtime_error("cannot create a rich-edit pane (msftedit.dll)");
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET | CFM_COLOR | CFM_BOLD | CFM_ITALIC |
                    CFM_UNDERLINE | CFM_STRIKEOUT;
    format.dwEffects = CFE_AUTOCOLOR;
    format.yHeight = 8 * 20;  // 8 pt in twips
    format.bCharSet = ANSI_CHARSET;
    lstrcpynW(format.szFaceName, L"Tahoma", LF_FACESIZE);
    SendMessageW(pane, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    SendMessageW(pane, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
    return pane;
}

HWND Tfiche_ppal::CreateTabSheet(int id, int index) {
    RECT display = kPageControl1;
    // The sheets cover the page control's display area, below its tabs.
    RECT tab;
    GetWindowRect(PageControl1, &tab);
    MapWindowPoints(nullptr, fiche_ppal, reinterpret_cast<POINT*>(&tab), 2);
    display = tab;
    TabCtrl_AdjustRect(PageControl1, FALSE, &display);
    HWND sheet = CreateWindowExW(WS_EX_CONTROLPARENT, kTabSheetClass, L"",
                                 WS_CHILD | WS_CLIPSIBLINGS | (index == 0 ? WS_VISIBLE : 0),
                                 display.left, display.top, display.right - display.left,
                                 display.bottom - display.top, fiche_ppal, IdOf(id), instance_, nullptr);
    SetWindowPos(sheet, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return sheet;
}

void Tfiche_ppal::CreateControls() {
    HWND w = fiche_ppal;
    auto setFont = [](HWND control, HFONT font) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    };

    lbl_about1 = CreateWindowExW(0, WC_STATICW, L"Contr\u00f4le des lecteurs Vitale",
                                 WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 108, 14, 361, 29, w,
                                 IdOf(kIdLblAbout1), instance_, nullptr);
    setFont(lbl_about1, titleFont_);
    lbl_about2 = CreateWindowExW(
        0, WC_STATICW, L"Cette application est compatible avec le logiciel Vardel uniquement",
        WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 8, 51, 580, 29, w, IdOf(kIdLblAbout2),
        instance_, nullptr);
    setFont(lbl_about2, noticeFont_);

    // Tab order: the two links, then the page control.
    const std::wstring link2 = L"<a href=\"" + WideFromUtf8(gui_win32::kSupportUrl) +
                               L"\">Support \u00e0 Distance</a>";
    lbl_link2 = CreateWindowExW(0, WC_LINK, link2.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 451,
                                403, 108, 19, w, IdOf(kIdLblLink2), instance_, nullptr);
    setFont(lbl_link2, font_);
    const std::wstring link3 = L"<a href=\"" + WideFromUtf8(gui_win32::kProductUrl) +
                               L"\">Logiciel lecture Vitale</a>";
    lbl_link3 = CreateWindowExW(0, WC_LINK, link3.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 40,
                                401, 119, 19, w, IdOf(kIdLblLink3), instance_, nullptr);
    setFont(lbl_link3, font_);
    // Sized to their text, from their designed place, as an auto-sized link
    // label is: a wider font (Wine's Tahoma) must not wrap the link.
    for (HWND link : {lbl_link2, lbl_link3}) {
        RECT place;
        GetWindowRect(link, &place);
        MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&place), 2);
        SIZE ideal{};
        if (SendMessageW(link, LM_GETIDEALSIZE, kClientWidth, reinterpret_cast<LPARAM>(&ideal)) > 0 &&
            ideal.cx > 0) {
            const int width = std::min<int>(ideal.cx, kClientWidth - place.left);
            SetWindowPos(link, nullptr, 0, 0, width, std::max<int>(ideal.cy, place.bottom - place.top),
                         SWP_NOMOVE | SWP_NOZORDER);
        }
    }

    PageControl1 = CreateWindowExW(
        0, WC_TABCONTROLW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | TCS_BUTTONS | TCS_FLATBUTTONS,
        kPageControl1.left, kPageControl1.top, kPageControl1.right - kPageControl1.left,
        kPageControl1.bottom - kPageControl1.top, w, IdOf(kIdPageControl1), instance_, nullptr);
    setFont(PageControl1, font_);
    const std::u16string_view captions[] = {checks::kServiceTabCaption, checks::kSerialTabCaption,
                                            checks::kDirectTabCaption};
    for (int i = 0; i < 3; ++i) {
        std::wstring caption = Wide(captions[i]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        SendMessageW(PageControl1, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    SetWindowSubclass(PageControl1, PageControlProc, 1, reinterpret_cast<DWORD_PTR>(this));

    TabSheet2 = CreateTabSheet(kIdTabSheet2, 0);
    TabSheet3 = CreateTabSheet(kIdTabSheet3, 1);
    TabSheet1 = CreateTabSheet(kIdTabSheet1, 2);

    btn_config = CreateSpeedButton(TabSheet2, kIdBtnConfig, L" Rechercher les lecteurs",
                                   searchPicture_, 190, 24, 172, 30, font_);
    lecteur1 = CreatePane(TabSheet2, kIdLecteur1);
    SpeedButton1 = CreateSpeedButton(TabSheet3, kIdSpeedButton1, L" Rechercher les lecteurs",
                                     searchPicture_, 190, 24, 172, 30, font_);
    lecteur2 = CreatePane(TabSheet3, kIdLecteur2);
    SpeedButton2 = CreateSpeedButton(TabSheet1, kIdSpeedButton2, L" Rechercher les lecteurs",
                                     searchPicture_, 190, 24, 172, 30, font_);
    lecteur3 = CreatePane(TabSheet1, kIdLecteur3);
    // Never shown: the direct check's list of reader names.
    ComboBox1 = CreateWindowExW(0, WC_COMBOBOXW, L"ComboBox1", WS_CHILD | CBS_DROPDOWN, 0, 0, 553,
                                200, TabSheet1, IdOf(kIdComboBox1), instance_, nullptr);
    setFont(ComboBox1, font_);
    SetWindowTextW(ComboBox1, L"ComboBox1");

    btn_quit = CreateSpeedButton(w, kIdBtnQuit, L" Quitter", quitPicture_, 248, 391, 95, 30, font_);

    pane1_.Attach(lecteur1);
    pane2_.Attach(lecteur2);
    pane3_.Attach(lecteur3);
}

void Tfiche_ppal::ShowSelectedSheet() {
    const auto selected = SendMessageW(PageControl1, TCM_GETCURSEL, 0, 0);
    const HWND sheets[] = {TabSheet2, TabSheet3, TabSheet1};
    for (int i = 0; i < 3; ++i) {
        if (i != selected) ShowWindow(sheets[i], SW_HIDE);
    }
    if (selected >= 0 && selected < 3) {
        SetWindowPos(sheets[selected], HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    }
}

void Tfiche_ppal::DrawLabel(const DRAWITEMSTRUCT& item) {
    // One line, centred, in black on white, cut at the label's edges rather
    // than wrapped when a font runs wider than the one it was designed with.
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(item.hwndItem)), L'\0');
    GetWindowTextW(item.hwndItem, text.data(), static_cast<int>(text.size() + 1));
    RECT box = item.rcItem;
    FillRect(item.hDC, &box, white_);
    HGDIOBJ old = SelectObject(item.hDC, item.hwndItem == lbl_about1 ? titleFont_ : noticeFont_);
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, RGB(0, 0, 0));
    DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &box,
              DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(item.hDC, old);
}

void Tfiche_ppal::PaintBevel(HDC dc) {
    // A lowered box around the page control.
    RECT bevel = kBevel2;
    DrawEdge(dc, &bevel, BDR_SUNKENOUTER, BF_RECT);
}

// ---- Messages -------------------------------------------------------------------

LRESULT CALLBACK Tfiche_ppal::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Tfiche_ppal*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<Tfiche_ppal*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->fiche_ppal = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    return self->Dispatch(message, wParam, lParam);
}

LRESULT Tfiche_ppal::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        bool created = false;
        Guarded([&] {
            CreateControls();
            FormCreate();
            created = true;
        });
        return created ? 0 : -1;
    }
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY:
        OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        return 0;
    case WM_DRAWITEM:
        if (wParam == kIdLblAbout1 || wParam == kIdLblAbout2) {
            DrawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        break;
    case kShowSelectedSheet:
        ShowSelectedSheet();
        return 0;
    case WM_CTLCOLORSTATIC:
        // The labels on the white background, in the window-text colour.
        SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
        SetTextColor(reinterpret_cast<HDC>(wParam),
                     reinterpret_cast<HWND>(lParam) == lbl_about1 ||
                             reinterpret_cast<HWND>(lParam) == lbl_about2
                         ? RGB(0, 0, 0)
                         : GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(white_);
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(fiche_ppal, &ps);
        PaintBevel(dc);
        EndPaint(fiche_ppal, &ps);
        return 0;
    }
    case WM_DESTROY:
        // The close box or Quitter: the application ends.
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(fiche_ppal, GWLP_USERDATA, 0);
        fiche_ppal = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(fiche_ppal, message, wParam, lParam);
}

LRESULT CALLBACK Tfiche_ppal::TabSheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
        // The sheet's controls report to the window, as if they were its own.
        return SendMessageW(GetParent(window), message, wParam, lParam);
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK Tfiche_ppal::PageControlProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    switch (message) {
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(window, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, reinterpret_cast<Tfiche_ppal*>(self)->white_);
        return 1;
    }
    case TCM_SETCURSEL: {
        // The sheet shown follows the selected tab, whoever selects it.
        const LRESULT previous = DefSubclassProc(window, message, wParam, lParam);
        PostMessageW(GetParent(window), kShowSelectedSheet, 0, 0);
        return previous;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, PageControlProc, 1);
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

void Tfiche_ppal::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return;
    switch (id) {
    case kIdBtnConfig:
        Guarded([this] { btn_configClick(); });
        break;
    case kIdSpeedButton1:
        Guarded([this] { SpeedButton1Click(); });
        break;
    case kIdSpeedButton2:
        Guarded([this] { SpeedButton2Click(); });
        break;
    case kIdBtnQuit:
        Guarded([this] { btn_quitClick(); });
        break;
    default:
        break;
    }
}

void Tfiche_ppal::OnNotify(const NMHDR& header) {
    if (header.hwndFrom == PageControl1 && header.code == TCN_SELCHANGE) {
        ShowSelectedSheet();
        return;
    }
    if (header.code != NM_CLICK && header.code != NM_RETURN) return;
    if (header.hwndFrom == lbl_link2) {
        Guarded([this] { lbl_link2Click(); });
    } else if (header.hwndFrom == lbl_link3) {
        Guarded([this] { lbl_link3Click(); });
    }
}

// ---- Handlers --------------------------------------------------------------------

void Tfiche_ppal::FormCreate() {
    Registre = std::make_unique<checks::WinRegistry>();
    SendMessageW(PageControl1, TCM_SETCURSEL, 0, 0);
    ShowSelectedSheet();
}

void Tfiche_ppal::btn_configClick() {
    service_.btn_configClick();
}

void Tfiche_ppal::SpeedButton1Click() {
    checks::RunSerialCheck(pane2_, *Registre);
}

void Tfiche_ppal::SpeedButton2Click() {
    const checks::DirectCheckResult result = checks::RunDirectCheck(pane3_, comboItems_);
    if (result.names.empty()) return;  // the hidden list keeps the last names found
    SendMessageW(ComboBox1, CB_RESETCONTENT, 0, 0);
    SetWindowTextW(ComboBox1, L"");
    for (const std::u16string& name : comboItems_) {
        const std::wstring item = Wide(name);
        SendMessageW(ComboBox1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
}

void Tfiche_ppal::btn_quitClick() {
    PostQuitMessage(0);
}

void Tfiche_ppal::lbl_link2Click() {
    const std::wstring url = WideFromUtf8(gui_win32::kSupportUrl);
    ShellExecuteW(fiche_ppal, L"open", url.c_str(), nullptr, nullptr, SW_SHOW);
}

void Tfiche_ppal::lbl_link3Click() {
    const std::wstring url = WideFromUtf8(gui_win32::kProductUrl);
    ShellExecuteW(fiche_ppal, L"open", url.c_str(), nullptr, nullptr, SW_SHOW);
}

}  // namespace gui_win32
