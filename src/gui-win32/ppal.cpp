#include "ppal.h"

#include "checks/SerialCheck.h"
#include "checks/safeModule.h"
#include "pcsc/TextConversions.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <algorithm>
#include <stdexcept>
#include <string>

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

std::wstring Wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring WideFromUtf8(const std::string& text) {
    return Wide(pcsc::Utf8ToUtf16(text));
}

HMENU IdOf(int id) {
    return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
}

// A Tahoma font: `height` is the character height in pixels when negative,
// the cell height when positive (CreateFontW's convention).
HFONT MakeFont(int height, int weight) {
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE,
                       std::wstring(window::kFontFace.begin(), window::kFontFace.end()).c_str());
}

void SetFont(HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void Move(HWND control, const RECT& place) {
    SetWindowPos(control, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT Design(const window::Rect& r) {
    return RECT{r.left, r.top, r.Right(), r.Bottom()};
}

// A control made at its place of the design, before ApplyDpi scales it.
HWND MakeControl(DWORD exStyle, const wchar_t* className, const wchar_t* text, DWORD style,
                 const RECT& place, HWND parent, int id, HINSTANCE instance) {
    return CreateWindowExW(exStyle, className, text, style, place.left, place.top,
                           place.right - place.left, place.bottom - place.top, parent, IdOf(id),
                           instance, nullptr);
}

// The combo box's height with its list dropped down (it is never shown).
constexpr int kComboBoxListHeight = 200;

int PictureResource(window::Picture picture) {
    return picture == window::Picture::Quit ? IDB_QUIT : IDB_SEARCH;
}

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
            return DefSubclassProc(window, message, wParam, lParam) &
                   ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
        case WM_NCDESTROY: RemoveWindowSubclass(window, PaneProc, 1); break;
        default: break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

Tfiche_ppal::Tfiche_ppal(HINSTANCE instance)
    : instance_(instance), title_(Wide(window::Find("fiche_ppal").caption)) {
    white_ = CreateSolidBrush(RGB(255, 255, 255));
    icon_ =
        static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
}

Tfiche_ppal::~Tfiche_ppal() {
    Close();
    for (const auto& [design, font] : fonts_) DeleteObject(font);
    for (const auto& [name, picture] : pictures_) {
        if (picture) DeleteObject(picture);
    }
    if (white_) DeleteObject(white_);
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
    constexpr DWORD style =
        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    constexpr DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT frame = Design(window::Find("fiche_ppal").place);
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    // Made at the design's size; WM_CREATE lays it out for its monitor's
    // scale.
    HWND window = CreateWindowExW(exStyle, kMainWindowClass, title_.c_str(), style, CW_USEDEFAULT,
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
    if (smallIcon_)
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
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
    MessageBoxW(fiche_ppal, text.c_str(), title_.c_str(), MB_OK | MB_ICONERROR);
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

HWND Tfiche_ppal::CreatePane(HWND sheet, int id, const window::Component& c) {
    // Read-only rich text, both scroll bars, no border.
    HWND pane =
        MakeControl(0, MSFTEDIT_CLASS, L"", kPaneStyle, Design(c.place), sheet, id, instance_);
    if (!pane) throw std::runtime_error("cannot create a rich-edit pane (msftedit.dll)");
    SetWindowSubclass(pane, PaneProc, 1, 0);
    if (c.font.unit != window::Font::Unit::Points)
        throw std::logic_error("a pane's font is sized in points");
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_FACE | CFM_SIZE | CFM_CHARSET | CFM_COLOR | CFM_BOLD | CFM_ITALIC |
                    CFM_UNDERLINE | CFM_STRIKEOUT;
    format.dwEffects = CFE_AUTOCOLOR;
    format.yHeight = c.font.size * 20;  // in twips: the control scales points itself
    format.bCharSet = ANSI_CHARSET;
    lstrcpynW(format.szFaceName, Wide(window::kFontFace).c_str(), LF_FACESIZE);
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
    // gives them those of the window's scale. The model's order is the Tab
    // key's order: the two links, the page control, then the shown sheet's
    // pane.
    for (const window::Component& c : window::Components()) {
        if (c.kind == window::Kind::Window) {
            controls_[c.name] = fiche_ppal;
            continue;
        }
        // The tab sheets are the window's children, shown over the page
        // control.
        HWND parent = c.kind == window::Kind::TabSheet ? fiche_ppal : controls_.at(c.parent);
        controls_[c.name] = CreateControl(c, parent);
    }
    const auto get = [this](const char* name) { return controls_.at(name); };
    lbl_about1 = get("lbl_about1");
    lbl_about2 = get("lbl_about2");
    PageControl1 = get("PageControl1");
    TabSheet2 = get("TabSheet2");
    btn_config = get("btn_config");
    lecteur1 = get("lecteur1");
    TabSheet3 = get("TabSheet3");
    SpeedButton1 = get("SpeedButton1");
    lecteur2 = get("lecteur2");
    TabSheet1 = get("TabSheet1");
    SpeedButton2 = get("SpeedButton2");
    lecteur3 = get("lecteur3");
    ComboBox1 = get("ComboBox1");
    btn_quit = get("btn_quit");
    lbl_link2 = get("lbl_link2");
    lbl_link3 = get("lbl_link3");

    pane1_.Attach(lecteur1);
    pane2_.Attach(lecteur2);
    pane3_.Attach(lecteur3);
}

HWND Tfiche_ppal::CreateControl(const window::Component& c, HWND parent) {
    const int id = ControlId(c.name);
    const RECT place = Design(c.place);
    const std::wstring caption = Wide(c.caption);
    const DWORD visible = c.visible ? WS_VISIBLE : 0;
    const DWORD tabStop = c.tabStop != 0 ? WS_TABSTOP : 0;
    switch (c.kind) {
        case window::Kind::Label: return CreateLabel(parent, id, caption.c_str(), place);
        case window::Kind::LinkLabel: {
            const std::wstring anchor =
                L"<a href=\"" + WideFromUtf8(c.address) + L"\">" + caption + L"</a>";
            return MakeControl(0, WC_LINK, anchor.c_str(), WS_CHILD | visible | tabStop, place,
                               parent, id, instance_);
        }
        case window::Kind::Bevel: return nullptr;  // painted by the window (PaintBevel)
        case window::Kind::PageControl: {
            HWND pages = MakeControl(
                0, WC_TABCONTROLW, L"",
                WS_CHILD | visible | tabStop | WS_CLIPSIBLINGS | TCS_BUTTONS | TCS_FLATBUTTONS,
                place, parent, id, instance_);
            SetWindowSubclass(pages, PageControlProc, 1, reinterpret_cast<DWORD_PTR>(this));
            return pages;
        }
        case window::Kind::TabSheet: {
            // Its tab in the page control, then the sheet the tab shows.
            HWND pages = controls_.at(c.parent);
            const auto index = static_cast<int>(SendMessageW(pages, TCM_GETITEMCOUNT, 0, 0));
            std::wstring text = caption;
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = text.data();
            SendMessageW(pages, TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item));
            return CreateTabSheet(id, index);
        }
        case window::Kind::FlatButton:
            return CreateSpeedButton(parent, id, caption.c_str(), nullptr, place, nullptr);
        case window::Kind::ReportPane: return CreatePane(parent, id, c);
        case window::Kind::ComboBox: {
            RECT dropped = place;
            dropped.bottom = dropped.top + kComboBoxListHeight;
            HWND combo =
                MakeControl(0, WC_COMBOBOXW, caption.c_str(), WS_CHILD | visible | CBS_DROPDOWN,
                            dropped, parent, id, instance_);
            SetWindowTextW(combo, caption.c_str());
            return combo;
        }
        case window::Kind::Window: break;
    }
    throw std::logic_error("a kind of component the window cannot make");
}

// ---- Scale --------------------------------------------------------------------

void Tfiche_ppal::ApplyDpi(int dpi, const RECT* suggested) {
    if (dpi <= 0) dpi = kDesignDpi;
    dpi_ = dpi;
    SetFonts(dpi);
    SetPictures(dpi);
    const window::Rect& client = window::Find("fiche_ppal").place;
    SetClientSize(Scaled(client.width, dpi), Scaled(client.height, dpi), suggested);
    PlaceControls(dpi);
    RedrawWindow(fiche_ppal, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

HFONT Tfiche_ppal::FontOf(const window::Font& font) const {
    for (const auto& [design, made] : fonts_) {
        if (design == font) return made;
    }
    return nullptr;
}

void Tfiche_ppal::SetFonts(int dpi) {
    // Each font of the design at this scale: a height in points or in pixels
    // of the characters is a character height (negative), one of the cell a
    // cell height (positive).
    std::vector<std::pair<window::Font, HFONT>> fonts;
    const auto make = [&fonts, dpi](const window::Font& font) {
        for (const auto& [design, made] : fonts) {
            if (design == font) return made;
        }
        int height = 0;
        switch (font.unit) {
            case window::Font::Unit::Points: height = -PointsToPixels(font.size, dpi); break;
            case window::Font::Unit::Pixels: height = -Scaled(font.size, dpi); break;
            case window::Font::Unit::CellPixels: height = Scaled(font.size, dpi); break;
        }
        HFONT made = MakeFont(height, font.bold ? FW_BOLD : FW_NORMAL);
        fonts.emplace_back(font, made);
        return made;
    };
    for (const window::Component& c : window::Components()) {
        switch (c.kind) {
            case window::Kind::Label:
            case window::Kind::LinkLabel:
            case window::Kind::PageControl:
            case window::Kind::FlatButton:
            case window::Kind::ComboBox: SetFont(controls_.at(c.name), make(c.font)); break;
            default: break;
        }
    }
    // The controls hold the new fonts: the old ones can go.
    for (const auto& [design, old] : fonts_) DeleteObject(old);
    fonts_ = std::move(fonts);

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
    const int size = Scaled(window::kPictureSize, dpi);
    std::map<window::Picture, HBITMAP> pictures;
    for (const window::Component& c : window::Components()) {
        if (c.picture == window::Picture::None) continue;
        auto [made, fresh] = pictures.try_emplace(c.picture, nullptr);
        if (fresh) made->second = LoadPicture(instance_, PictureResource(c.picture), size);
        SendMessageW(controls_.at(c.name), BM_SETIMAGE, IMAGE_BITMAP,
                     reinterpret_cast<LPARAM>(made->second));
    }
    for (const auto& [name, old] : pictures_) {
        if (old) DeleteObject(old);
    }
    pictures_ = std::move(pictures);
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
    for (const window::Component& c : window::Components()) {
        HWND control = controls_.at(c.name);
        switch (c.kind) {
            case window::Kind::Window:
            case window::Kind::Bevel:
            case window::Kind::TabSheet:
                break;  // sized by SetClientSize, painted, placed by PlaceTabSheets
            case window::Kind::Label: PlaceLabel(control, c, dpi); break;
            case window::Kind::LinkLabel: PlaceLink(control, c, dpi); break;
            case window::Kind::PageControl:
                Move(control, Scaled(Design(c.place), dpi));
                PlaceTabSheets();
                break;
            case window::Kind::ComboBox: {
                RECT combo = Scaled(Design(c.place), dpi);
                combo.bottom = combo.top + Scaled(kComboBoxListHeight, dpi);
                Move(control, combo);
                break;
            }
            case window::Kind::FlatButton:
            case window::Kind::ReportPane: Move(control, Scaled(Design(c.place), dpi)); break;
        }
    }
}

void Tfiche_ppal::PlaceLabel(HWND label, const window::Component& c, int dpi) {
    // A label whose text runs wider than its place (a font wider than the
    // one it was designed with: Wine's Tahoma) grows on both sides, centred
    // where it was, rather than cut its text.
    const int clientWidth = Scaled(window::Find("fiche_ppal").place.width, dpi);
    RECT place = Scaled(Design(c.place), dpi);
    const int grow = TextExtent(FontOf(c.font), WindowText(label)).cx - (place.right - place.left);
    if (grow > 0) {
        place.left = std::max<LONG>(0, place.left - grow / 2);
        place.right = std::min<LONG>(clientWidth, place.right + grow - grow / 2);
    }
    Move(label, place);
}

void Tfiche_ppal::PlaceLink(HWND link, const window::Component& c, int dpi) {
    // As wide as its text from its designed place, as an auto-sized link
    // label is: no underline runs past the text, and a wider font (Wine's
    // Tahoma) does not wrap it.
    const int clientWidth = Scaled(window::Find("fiche_ppal").place.width, dpi);
    RECT place = Scaled(Design(c.place), dpi);
    SIZE needed = TextExtent(FontOf(c.font), Wide(c.caption));
    SIZE ideal{};
    if (SendMessageW(link, LM_GETIDEALSIZE, clientWidth, reinterpret_cast<LPARAM>(&ideal)) > 0) {
        needed.cx = std::max(needed.cx, ideal.cx);
        needed.cy = std::max(needed.cy, ideal.cy);
    }
    place.right = std::min<LONG>(place.left + needed.cx, clientWidth);
    place.bottom = std::max<LONG>(place.bottom, place.top + needed.cy);
    Move(link, place);
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
    SetWindowPos(PageControl1, nullptr, 0, 0, control.right - control.left,
                 display.top - control.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
    const RECT bevel = Scaled(Design(window::Find("Bevel2").place), dpi_);
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
        case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
        case WM_NOTIFY: OnNotify(*reinterpret_cast<const NMHDR*>(lParam)); return 0;
        case kShowSelectedSheet: ShowSelectedSheet(); return 0;
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
        default: break;
    }
    return DefWindowProcW(fiche_ppal, message, wParam, lParam);
}

LRESULT CALLBACK Tfiche_ppal::TabSheetProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_CTLCOLORSTATIC:
            // The sheet's controls report to the window, as if they were its own.
            return SendMessageW(GetParent(window), message, wParam, lParam);
        default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK Tfiche_ppal::PageControlProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    switch (message) {
        case WM_ERASEBKGND: {
            RECT client;
            GetClientRect(window, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client,
                     reinterpret_cast<Tfiche_ppal*>(self)->white_);
            return 1;
        }
        case TCM_SETCURSEL: {
            // The sheet shown follows the selected tab, whoever selects it.
            const LRESULT previous = DefSubclassProc(window, message, wParam, lParam);
            PostMessageW(GetParent(window), kShowSelectedSheet, 0, 0);
            return previous;
        }
        case WM_NCDESTROY: RemoveWindowSubclass(window, PageControlProc, 1); break;
        default: break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

void Tfiche_ppal::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return;
    switch (id) {
        case kIdBtnConfig: Guarded([this] { btn_configClick(); }); break;
        case kIdSpeedButton1: Guarded([this] { SpeedButton1Click(); }); break;
        case kIdSpeedButton2: Guarded([this] { SpeedButton2Click(); }); break;
        case kIdBtnQuit: Guarded([this] { btn_quitClick(); }); break;
        default: break;
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
    const std::wstring url = WideFromUtf8(window::kSupportUrl);
    ShellExecuteW(fiche_ppal, L"open", url.c_str(), nullptr, nullptr, SW_SHOW);
}

void Tfiche_ppal::lbl_link3Click() {
    const std::wstring url = WideFromUtf8(window::kProductUrl);
    ShellExecuteW(fiche_ppal, L"open", url.c_str(), nullptr, nullptr, SW_SHOW);
}

}  // namespace gui_win32
