#include "ppal.h"

#include "Links.h"
#include "checks/SerialCheck.h"
#include "checks/Tabs.h"
#include "checks/safeModule.h"
#include "pcsc/TextConversions.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <tuple>

#include "ControlIds.h"
#include "Dpi.h"
#include "Label.h"
#include "Pictures.h"
#include "SpeedButton.h"
#include "TextExtent.h"
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
    return Wide(pcsc::Utf8ToUtf16(text));
}

HMENU IdOf(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

// A Tahoma font: `height` is the character height in pixels when negative,
// the cell height when positive (CreateFontW's convention).
HFONT MakeFont(int height, int weight) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
}

void SetFont(HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void Move(HWND control, const RECT& place) {
    SetWindowPos(control, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The design, at 96 dots per inch: the window's client size and its
// children's places (those of the sheets' children relative to the sheet).
constexpr int kClientWidth = 596;
constexpr int kClientHeight = 427;
constexpr RECT kLblAbout1{108, 14, 108 + 361, 14 + 29};
constexpr RECT kLblAbout2{8, 51, 8 + 580, 51 + 29};
constexpr RECT kBevel2{8, 86, 8 + 580, 86 + 299};
constexpr RECT kPageControl1{16, 96, 16 + 561, 96 + 281};
constexpr RECT kSearchButton{190, 24, 190 + 172, 24 + 30};
constexpr RECT kPane{0, 91, 0 + 553, 91 + 159};
constexpr RECT kComboBox1{0, 0, 553, 21};
constexpr RECT kBtnQuit{248, 391, 248 + 95, 391 + 30};
constexpr RECT kLblLink2{451, 403, 451 + 108, 403 + 19};
constexpr RECT kLblLink3{40, 401, 40 + 119, 401 + 19};
// The combo box's height with its list dropped down (it is never shown).
constexpr int kComboBoxListHeight = 200;
// The fonts: the window's and the panes' Tahoma 8 pt, the title's 18 pt
// (24 px) bold, the notice's 15 px characters, the links' 15 px cell.
constexpr int kFontPoints = 8;
constexpr int kTitlePoints = 18;
constexpr int kNoticePixels = 15;
constexpr int kLinkCellPixels = 15;
constexpr int kPictureSize = 24;

constexpr DWORD kPaneStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL |
                             ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY |
                             ES_DISABLENOSCROLL;

constexpr UINT kShowSelectedSheet = WM_APP + 10;

// A report pane is a stop of the Tab key like the other controls: Tab and
// Shift+Tab move on instead of staying in it, Enter and Escape reach the
// window. Arrows and Ctrl+C (copy) still work in it; it stays read-only.
LRESULT CALLBACK PaneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                          DWORD_PTR) {
    switch (message) {
    case WM_GETDLGCODE:
        return DefSubclassProc(window, message, wParam, lParam) & ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, PaneProc, 1);
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

Tfiche_ppal::Tfiche_ppal(HINSTANCE instance) : instance_(instance) {
    white_ = CreateSolidBrush(RGB(255, 255, 255));
    icon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
}

Tfiche_ppal::~Tfiche_ppal() {
    Close();
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(titleFont_),
                           static_cast<HGDIOBJ>(noticeFont_), static_cast<HGDIOBJ>(linkFont_),
                           static_cast<HGDIOBJ>(searchPicture_), static_cast<HGDIOBJ>(quitPicture_),
                           static_cast<HGDIOBJ>(white_)}) {
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
    return RegisterSpeedButtonClass(instance) && RegisterLabelClass(instance);
}

bool Tfiche_ppal::Create() {
    // Fixed single border, system menu and minimise only.
    constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    constexpr DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    // Made at the design's size; WM_CREATE lays it out for its monitor's
    // scale.
    HWND window = CreateWindowExW(exStyle, kMainWindowClass, kMainWindowTitle, style, CW_USEDEFAULT,
                                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                  nullptr, nullptr, instance_, this);
    if (!window) return false;
    // Centred on the screen.
    RECT placed;
    GetWindowRect(window, &placed);
    const int width = placed.right - placed.left;
    const int height = placed.bottom - placed.top;
    SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (smallIcon_) SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    if (icon_) SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    return true;
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
    HWND pane = CreateWindowExW(0, MSFTEDIT_CLASS, L"", kPaneStyle, kPane.left, kPane.top,
                                kPane.right - kPane.left, kPane.bottom - kPane.top, sheet, IdOf(id),
                                instance_, nullptr);
    if (!pane) throw std::runtime_error("cannot create a rich-edit pane (msftedit.dll)");
    SetWindowSubclass(pane, PaneProc, 1, 0);
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET | CFM_COLOR | CFM_BOLD | CFM_ITALIC |
                    CFM_UNDERLINE | CFM_STRIKEOUT;
    format.dwEffects = CFE_AUTOCOLOR;
    format.yHeight = kFontPoints * 20;  // in twips: the control scales points itself
    format.bCharSet = ANSI_CHARSET;
    lstrcpynW(format.szFaceName, L"Tahoma", LF_FACESIZE);
    SendMessageW(pane, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    SendMessageW(pane, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
    return pane;
}

HWND Tfiche_ppal::CreateTabSheet(int id, int index) {
    // Placed below the page control's tabs by PlaceTabSheets.
    return CreateWindowExW(WS_EX_CONTROLPARENT, kTabSheetClass, L"",
                           WS_CHILD | WS_CLIPSIBLINGS | (index == 0 ? WS_VISIBLE : 0), 0, 0, 0, 0,
                           fiche_ppal, IdOf(id), instance_, nullptr);
}

void Tfiche_ppal::CreateControls() {
    // Made at the design's places without fonts nor pictures: ApplyDpi
    // gives them those of the window's scale. Creation order is the Tab
    // key's order: the two links, the page control, then the shown sheet's
    // pane.
    HWND w = fiche_ppal;
    lbl_about1 = CreateLabel(w, kIdLblAbout1, L"Contr\u00f4le des lecteurs Vitale", kLblAbout1);
    lbl_about2 = CreateLabel(w, kIdLblAbout2,
                             L"Cette application est compatible avec le logiciel Vardel uniquement",
                             kLblAbout2);

    const std::wstring link2 = L"<a href=\"" + WideFromUtf8(gui_win32::kSupportUrl) +
                               L"\">Support \u00e0 Distance</a>";
    lbl_link2 = CreateWindowExW(0, WC_LINK, link2.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                kLblLink2.left, kLblLink2.top, kLblLink2.right - kLblLink2.left,
                                kLblLink2.bottom - kLblLink2.top, w, IdOf(kIdLblLink2), instance_,
                                nullptr);
    const std::wstring link3 = L"<a href=\"" + WideFromUtf8(gui_win32::kProductUrl) +
                               L"\">Logiciel lecture Vitale</a>";
    lbl_link3 = CreateWindowExW(0, WC_LINK, link3.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                kLblLink3.left, kLblLink3.top, kLblLink3.right - kLblLink3.left,
                                kLblLink3.bottom - kLblLink3.top, w, IdOf(kIdLblLink3), instance_,
                                nullptr);

    PageControl1 = CreateWindowExW(
        0, WC_TABCONTROLW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | TCS_BUTTONS | TCS_FLATBUTTONS,
        kPageControl1.left, kPageControl1.top, kPageControl1.right - kPageControl1.left,
        kPageControl1.bottom - kPageControl1.top, w, IdOf(kIdPageControl1), instance_, nullptr);
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

    btn_config = CreateSpeedButton(TabSheet2, kIdBtnConfig, L" Rechercher les lecteurs", nullptr,
                                   kSearchButton, nullptr);
    lecteur1 = CreatePane(TabSheet2, kIdLecteur1);
    SpeedButton1 = CreateSpeedButton(TabSheet3, kIdSpeedButton1, L" Rechercher les lecteurs",
                                     nullptr, kSearchButton, nullptr);
    lecteur2 = CreatePane(TabSheet3, kIdLecteur2);
    SpeedButton2 = CreateSpeedButton(TabSheet1, kIdSpeedButton2, L" Rechercher les lecteurs",
                                     nullptr, kSearchButton, nullptr);
    lecteur3 = CreatePane(TabSheet1, kIdLecteur3);
    // Never shown: the direct check's list of reader names.
    ComboBox1 = CreateWindowExW(0, WC_COMBOBOXW, L"ComboBox1", WS_CHILD | CBS_DROPDOWN,
                                kComboBox1.left, kComboBox1.top, kComboBox1.right - kComboBox1.left,
                                kComboBoxListHeight, TabSheet1, IdOf(kIdComboBox1), instance_, nullptr);
    SetWindowTextW(ComboBox1, L"ComboBox1");

    btn_quit = CreateSpeedButton(w, kIdBtnQuit, L" Quitter", nullptr, kBtnQuit, nullptr);

    pane1_.Attach(lecteur1);
    pane2_.Attach(lecteur2);
    pane3_.Attach(lecteur3);
}

// ---- Scale --------------------------------------------------------------------

void Tfiche_ppal::ApplyDpi(int dpi, const RECT* suggested) {
    if (dpi <= 0) dpi = kDesignDpi;
    dpi_ = dpi;
    SetFonts(dpi);
    SetPictures(dpi);
    SetClientSize(Scaled(kClientWidth, dpi), Scaled(kClientHeight, dpi), suggested);
    PlaceControls(dpi);
    RedrawWindow(fiche_ppal, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void Tfiche_ppal::SetFonts(int dpi) {
    HFONT font = MakeFont(-PointsToPixels(kFontPoints, dpi), FW_NORMAL);
    HFONT title = MakeFont(-PointsToPixels(kTitlePoints, dpi), FW_BOLD);
    HFONT notice = MakeFont(-Scaled(kNoticePixels, dpi), FW_NORMAL);
    HFONT link = MakeFont(Scaled(kLinkCellPixels, dpi), FW_NORMAL);
    SetFont(lbl_about1, title);
    SetFont(lbl_about2, notice);
    SetFont(lbl_link2, link);
    SetFont(lbl_link3, link);
    for (HWND control : {PageControl1, btn_config, SpeedButton1, SpeedButton2, ComboBox1, btn_quit})
        SetFont(control, font);
    // The controls hold the new fonts: the old ones can go.
    for (HFONT old : {font_, titleFont_, noticeFont_, linkFont_}) {
        if (old) DeleteObject(old);
    }
    font_ = font;
    titleFont_ = title;
    noticeFont_ = notice;
    linkFont_ = link;

    // The panes' text is in points, which the rich-edit control turns into
    // pixels at the system's scale: zoomed by the monitor's scale against it.
    const int system = SystemDpi();
    for (HWND pane : {lecteur1, lecteur2, lecteur3}) {
        if (dpi == system) {
            SendMessageW(pane, EM_SETZOOM, 0, 0);
        } else {
            SendMessageW(pane, EM_SETZOOM, static_cast<WPARAM>(dpi), static_cast<LPARAM>(system));
        }
    }
}

void Tfiche_ppal::SetPictures(int dpi) {
    const int size = Scaled(kPictureSize, dpi);
    HBITMAP search = LoadPicture(instance_, IDB_SEARCH, size);
    HBITMAP quit = LoadPicture(instance_, IDB_QUIT, size);
    for (HWND button : {btn_config, SpeedButton1, SpeedButton2})
        SendMessageW(button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(search));
    SendMessageW(btn_quit, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(quit));
    if (searchPicture_) DeleteObject(searchPicture_);
    if (quitPicture_) DeleteObject(quitPicture_);
    searchPicture_ = search;
    quitPicture_ = quit;
}

void Tfiche_ppal::SetClientSize(int width, int height, const RECT* suggested) {
    if (suggested) {
        SetWindowPos(fiche_ppal, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The frame's thickness as the window has it now, not as computed: it
    // follows the scale Windows draws the title bar at, which may lag (and
    // under Wine never follows) the monitor's.
    for (int pass = 0; pass < 2; ++pass) {
        RECT window;
        RECT client;
        GetWindowRect(fiche_ppal, &window);
        GetClientRect(fiche_ppal, &client);
        if (client.right == width && client.bottom == height) break;
        SetWindowPos(fiche_ppal, nullptr, 0, 0, width + (window.right - window.left) - client.right,
                     height + (window.bottom - window.top) - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Tfiche_ppal::PlaceControls(int dpi) {
    // A label whose text runs wider than its place (a font wider than the
    // one it was designed with: Wine's Tahoma) grows on both sides, centred
    // where it was, rather than cut its text.
    const int clientWidth = Scaled(kClientWidth, dpi);
    for (const auto& [label, design, font] : {std::tuple{lbl_about1, kLblAbout1, titleFont_},
                                              std::tuple{lbl_about2, kLblAbout2, noticeFont_}}) {
        RECT place = Scaled(design, dpi);
        const int grow = TextExtent(font, WindowText(label)).cx - (place.right - place.left);
        if (grow > 0) {
            place.left = std::max<LONG>(0, place.left - grow / 2);
            place.right = std::min<LONG>(clientWidth, place.right + grow - grow / 2);
        }
        Move(label, place);
    }
    Move(btn_quit, Scaled(kBtnQuit, dpi));
    Move(PageControl1, Scaled(kPageControl1, dpi));
    PlaceTabSheets();
    for (HWND button : {btn_config, SpeedButton1, SpeedButton2}) Move(button, Scaled(kSearchButton, dpi));
    for (HWND pane : {lecteur1, lecteur2, lecteur3}) Move(pane, Scaled(kPane, dpi));
    RECT combo = Scaled(kComboBox1, dpi);
    combo.bottom = combo.top + Scaled(kComboBoxListHeight, dpi);
    Move(ComboBox1, combo);
    PlaceLinks(dpi);
}

void Tfiche_ppal::PlaceLinks(int dpi) {
    // Each link as wide as its text from its designed place, as an
    // auto-sized link label is: no underline runs past the text, and a wider
    // font (Wine's Tahoma) does not wrap it.
    const struct {
        HWND link;
        RECT design;
        const wchar_t* text;
    } links[] = {{lbl_link2, kLblLink2, L"Support \u00e0 Distance"},
                 {lbl_link3, kLblLink3, L"Logiciel lecture Vitale"}};
    const int clientWidth = Scaled(kClientWidth, dpi);
    for (const auto& l : links) {
        RECT place = Scaled(l.design, dpi);
        SIZE needed = TextExtent(linkFont_, l.text);
        SIZE ideal{};
        if (SendMessageW(l.link, LM_GETIDEALSIZE, clientWidth, reinterpret_cast<LPARAM>(&ideal)) > 0) {
            needed.cx = std::max(needed.cx, ideal.cx);
            needed.cy = std::max(needed.cy, ideal.cy);
        }
        place.right = std::min<LONG>(place.left + needed.cx, clientWidth);
        place.bottom = std::max<LONG>(place.bottom, place.top + needed.cy);
        Move(l.link, place);
    }
}

void Tfiche_ppal::PlaceTabSheets() {
    // The sheets take the page control's display area, below its tabs; the
    // page control keeps only its row of tabs (flat buttons draw no frame
    // around the display area), so that nothing overlaps: the pane of the
    // shown sheet comes after the page control in the Tab key's order.
    RECT control;
    GetWindowRect(PageControl1, &control);
    MapWindowPoints(nullptr, fiche_ppal, reinterpret_cast<POINT*>(&control), 2);
    RECT display = control;
    TabCtrl_AdjustRect(PageControl1, FALSE, &display);
    for (HWND sheet : {TabSheet2, TabSheet3, TabSheet1}) Move(sheet, display);
    SetWindowPos(PageControl1, nullptr, 0, 0, control.right - control.left, display.top - control.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Tfiche_ppal::ShowSelectedSheet() {
    const auto selected = SendMessageW(PageControl1, TCM_GETCURSEL, 0, 0);
    const HWND sheets[] = {TabSheet2, TabSheet3, TabSheet1};
    for (int i = 0; i < 3; ++i) {
        if (i != selected) ShowWindow(sheets[i], SW_HIDE);
    }
    if (selected >= 0 && selected < 3) ShowWindow(sheets[selected], SW_SHOW);
}

void Tfiche_ppal::PaintBevel(HDC dc) {
    // A frame around the page control whose four edges show on the white
    // window (a lowered bevel's light edges would be white on white).
    const RECT bevel = Scaled(kBevel2, dpi_);
    const int width = std::max(1, Scaled(1, dpi_));
    HBRUSH shadow = GetSysColorBrush(COLOR_BTNSHADOW);
    const RECT edges[] = {{bevel.left, bevel.top, bevel.right, bevel.top + width},
                          {bevel.left, bevel.bottom - width, bevel.right, bevel.bottom},
                          {bevel.left, bevel.top, bevel.left + width, bevel.bottom},
                          {bevel.right - width, bevel.top, bevel.right, bevel.bottom}};
    for (const RECT& edge : edges) FillRect(dc, &edge, shadow);
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
            ApplyDpi(WindowDpi(fiche_ppal), nullptr);
            FormCreate();
            created = true;
        });
        return created ? 0 : -1;
    }
    case WM_DPICHANGED:
        // Moved to a monitor of another scale (or its scale changed).
        ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY:
        OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        return 0;
    case kShowSelectedSheet:
        ShowSelectedSheet();
        return 0;
    case WM_CTLCOLORSTATIC:
        // The links on the white background, in the window-text colour.
        SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
        SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
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
