// vardel-lecteurs.exe under Wine, driven from another process: its layout at
// start and at every display scale, the Tab key's way through it, the three
// checks' reports with their formats, an error escaping a handler, the way
// out, and a picture of each tab and of each scale.
//
// VARDEL_APP names the program. VARDEL_SERVICE says what smart-card library
// it meets: "stub" (Debian 12's Wine 8, whose winscard.dll cannot establish a
// context) or "readers" (Debian 13's Wine 10 over a real pcscd, whose readers
// VARDEL_EXPECT_READERS lists, separated by ';'). VARDEL_SCREENSHOTS names
// the folder for the pictures. The serial-port tests expect the values that
// the test set-up wrote with `wine reg add`.
#include <gtest/gtest.h>

#include "WindowDriver.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "ControlIds.h"

// Windows Vista's name for the link's ideal size (LM_GETIDEALHEIGHT in older
// headers).
#ifndef LM_GETIDEALSIZE
#define LM_GETIDEALSIZE (WM_USER + 0x301)
#endif

using namespace driver;
using namespace gui_win32;
using namespace std::chrono_literals;

namespace {

const wchar_t kSerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

bool RealReaders() {
    return Environment(L"VARDEL_SERVICE") == L"readers";
}

std::vector<std::wstring> ExpectedReaders() {
    std::vector<std::wstring> readers;
    std::wstring all = Environment(L"VARDEL_EXPECT_READERS");
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find(L';', start);
        if (end == std::wstring::npos) end = all.size();
        if (end > start) readers.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return readers;
}

// The port lines the check should write, in the registry's order, read here
// with the registry's own calls.
std::vector<std::wstring> UsbPortLines() {
    std::vector<std::wstring> lines;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return lines;
    for (DWORD index = 0;; ++index) {
        wchar_t name[512];
        DWORD nameLength = 512;
        BYTE data[1024];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS)
            break;
        const std::wstring device(name, nameLength);
        if (device.rfind(L"\\Device\\USB", 0) != 0) continue;
        std::wstring port(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t));
        port = port.substr(0, port.find(L'\0'));
        lines.push_back(port + L" : " + device + L"\r\n");
    }
    RegCloseKey(key);
    return lines;
}

std::wstring Screenshots() {
    return Environment(L"VARDEL_SCREENSHOTS");
}

std::wstring PaneText(const std::vector<Span>& runs) {
    std::wstring text;
    for (const Span& run : runs) text += run.text;
    return text;
}

#define EXPECT_RUNS(actual, expected)                                \
    EXPECT_EQ(actual, expected) << "pane:\n"                         \
                                << Describe(actual) << "expected:\n" \
                                << Describe(expected)

// ---- Display scales ---------------------------------------------------------------

// The display's scale for the programs started from now on, as Windows keeps
// it (Wine reads it when a program starts); the previous one comes back at
// the end of the scope.
class DisplayScale {
public:
    explicit DisplayScale(DWORD dpi) {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            throw std::runtime_error("cannot open HKCU\\Control Panel\\Desktop");
        DWORD size = sizeof previous_;
        DWORD type = 0;
        hadPrevious_ =
            RegQueryValueExW(key_, kValue, nullptr, &type, reinterpret_cast<BYTE*>(&previous_),
                             &size) == ERROR_SUCCESS &&
            type == REG_DWORD;
        Set(dpi);
    }
    ~DisplayScale() {
        if (hadPrevious_) {
            RegSetValueExW(key_, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&previous_),
                           sizeof previous_);
        } else {
            RegDeleteValueW(key_, kValue);
        }
        RegCloseKey(key_);
    }
    DisplayScale(const DisplayScale&) = delete;
    DisplayScale& operator=(const DisplayScale&) = delete;

private:
    static constexpr wchar_t kValue[] = L"LogPixels";
    void Set(DWORD dpi) {
        if (RegSetValueExW(key_, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                           sizeof dpi) != ERROR_SUCCESS)
            throw std::runtime_error("cannot set LogPixels");
    }
    HKEY key_ = nullptr;
    DWORD previous_ = 96;
    bool hadPrevious_ = false;
};

int Scaled(int length, int dpi) {
    return MulDiv(length, dpi, 96);
}

std::string Show(const RECT& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
           std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

// Every edge within 2 pixels of the design's, scaled.
void ExpectPlacedAt(const RECT& actual, const RECT& design, int dpi, const std::string& what) {
    const RECT expected{Scaled(design.left, dpi), Scaled(design.top, dpi),
                        Scaled(design.right, dpi), Scaled(design.bottom, dpi)};
    const bool placed = std::abs(actual.left - expected.left) <= 2 &&
                        std::abs(actual.top - expected.top) <= 2 &&
                        std::abs(actual.right - expected.right) <= 2 &&
                        std::abs(actual.bottom - expected.bottom) <= 2;
    EXPECT_TRUE(placed) << what << " at " << dpi << " dpi is " << Show(actual) << ", not "
                        << Show(expected);
}

// Its text (and picture) fits in the control.
void ExpectRoomFor(const SIZE& needed, const RECT& place, const std::string& what) {
    EXPECT_GT(needed.cx, 0) << what << ": no size reported";
    EXPECT_LE(needed.cx, place.right - place.left)
        << what << " is cut: " << needed.cx << " pixels wide needed";
    EXPECT_LE(needed.cy, place.bottom - place.top)
        << what << " is cut: " << needed.cy << " pixels high needed";
}

// The window laid out for `dpi`: size, places, room for every text, and
// the frame around the page control whole.
void ExpectLayoutAt(const App& app, int dpi) {
    SCOPED_TRACE(std::to_string(dpi) + " dpi");
    HWND w = app.Window();
    RECT client;
    GetClientRect(w, &client);
    EXPECT_LE(std::abs(client.right - Scaled(596, dpi)), 2) << "client width " << client.right;
    EXPECT_LE(std::abs(client.bottom - Scaled(427, dpi)), 2) << "client height " << client.bottom;

    // The labels: centred where designed, wider when their text needs it.
    const struct {
        int id;
        RECT design;
        const char* name;
    } labels[] = {{kIdLblAbout1, {108, 14, 108 + 361, 14 + 29}, "lbl_about1"},
                  {kIdLblAbout2, {8, 51, 8 + 580, 51 + 29}, "lbl_about2"}};
    for (const auto& l : labels) {
        HWND label = app.Control(l.id);
        const RECT place = app.PlaceIn(label, w);
        const int centre = Scaled(l.design.left + l.design.right, dpi);  // twice the centre
        EXPECT_LE(std::abs(place.left + place.right - centre), 3) << l.name << " " << Show(place);
        EXPECT_LE(std::abs(place.top - Scaled(l.design.top, dpi)), 2)
            << l.name << " " << Show(place);
        EXPECT_LE(std::abs(place.bottom - Scaled(l.design.bottom, dpi)), 2)
            << l.name << " " << Show(place);
        EXPECT_GE(place.right - place.left, Scaled(l.design.right - l.design.left, dpi) - 2)
            << l.name;
        ExpectRoomFor(app.IdealSize(label, BCM_GETIDEALSIZE), place, l.name);
    }
    HWND quit = app.Control(kIdBtnQuit);
    const RECT quitPlace = app.PlaceIn(quit, w);
    ExpectPlacedAt(quitPlace, {248, 391, 248 + 95, 391 + 30}, dpi, "btn_quit");
    ExpectRoomFor(app.IdealSize(quit, BCM_GETIDEALSIZE), quitPlace, "btn_quit");

    // The links: at their places, as wide as their text, inside the window.
    const struct {
        int id;
        POINT design;
        const char* name;
    } links[] = {{kIdLblLink2, {451, 403}, "lbl_link2"}, {kIdLblLink3, {40, 401}, "lbl_link3"}};
    for (const auto& l : links) {
        HWND link = app.Control(l.id);
        const RECT place = app.PlaceIn(link, w);
        EXPECT_LE(std::abs(place.left - Scaled(l.design.x, dpi)), 2)
            << l.name << " " << Show(place);
        EXPECT_LE(std::abs(place.top - Scaled(l.design.y, dpi)), 2) << l.name << " " << Show(place);
        EXPECT_LE(place.right, client.right) << l.name;
        const SIZE needed = app.IdealSize(link, LM_GETIDEALSIZE);
        ExpectRoomFor(needed, place, l.name);
        EXPECT_LE(place.right - place.left, needed.cx + 2) << l.name << " runs past its text";
    }

    // The page control: its tabs on one row, each inside it; below them the
    // shown sheet, inside the page control's designed area.
    HWND tabs = app.Control(kIdPageControl1);
    const RECT tabsPlace = app.PlaceIn(tabs, w);
    EXPECT_LE(std::abs(tabsPlace.left - Scaled(16, dpi)), 2) << Show(tabsPlace);
    EXPECT_LE(std::abs(tabsPlace.top - Scaled(96, dpi)), 2) << Show(tabsPlace);
    EXPECT_LE(std::abs(tabsPlace.right - Scaled(577, dpi)), 2) << Show(tabsPlace);
    EXPECT_EQ(SendMessageW(tabs, TCM_GETROWCOUNT, 0, 0), 1);
    for (int i = 0; i < 3; ++i) {
        const RECT tab = app.TabRect(i);
        EXPECT_LE(tab.right, tabsPlace.right - tabsPlace.left)
            << "tab " << i << " is cut: " << Show(tab);
    }
    const RECT area{Scaled(16, dpi), Scaled(96, dpi), Scaled(577, dpi), Scaled(377, dpi)};
    const struct {
        int sheet, button, pane;
        const char* name;
    } sheets[] = {{kIdTabSheet2, kIdBtnConfig, kIdLecteur1, "btn_config"},
                  {kIdTabSheet3, kIdSpeedButton1, kIdLecteur2, "SpeedButton1"},
                  {kIdTabSheet1, kIdSpeedButton2, kIdLecteur3, "SpeedButton2"}};
    for (const auto& s : sheets) {
        HWND sheet = app.Sheet(s.sheet);
        const RECT sheetPlace = app.PlaceIn(sheet, w);
        EXPECT_TRUE(sheetPlace.left >= area.left && sheetPlace.top >= tabsPlace.bottom &&
                    sheetPlace.right <= area.right && sheetPlace.bottom <= area.bottom + 2)
            << "sheet of " << s.name << " " << Show(sheetPlace) << " outside " << Show(area);
        HWND button = app.Control(s.sheet, s.button);
        const RECT buttonPlace = app.PlaceIn(button, sheet);
        ExpectPlacedAt(buttonPlace, {190, 24, 190 + 172, 24 + 30}, dpi, s.name);
        ExpectRoomFor(app.IdealSize(button, BCM_GETIDEALSIZE), buttonPlace, s.name);
        ExpectPlacedAt(app.PlaceIn(app.Control(s.sheet, s.pane), sheet), {0, 91, 553, 91 + 159},
                       dpi, std::string("pane of ") + s.name);
    }

    // The frame around the page control: its four edges show on the white.
    const RECT bevel{Scaled(8, dpi), Scaled(86, dpi), Scaled(588, dpi), Scaled(385, dpi)};
    const int midX = (bevel.left + bevel.right) / 2;
    const int midY = (bevel.top + bevel.bottom) / 2;
    const struct {
        POINT point;
        const char* edge;
    } edges[] = {{{midX, bevel.top}, "top"},
                 {{midX, bevel.bottom - 1}, "bottom"},
                 {{bevel.left, midY}, "left"},
                 {{bevel.right - 1, midY}, "right"}};
    for (const auto& e : edges) {
        EXPECT_NE(app.Pixel(e.point), RGB(255, 255, 255))
            << "the frame's " << e.edge << " edge does not show";
    }
}

}  // namespace

class WindowAtScale : public ::testing::TestWithParam<int> {};

// Started on a display of that scale (Wine 8 treats every program as aware
// of its monitor's scale: one that does not scale itself comes out cut).
TEST_P(WindowAtScale, IsLaidOutForTheDisplayAndCutsNoText) {
    const int dpi = GetParam();
    DisplayScale scale(static_cast<DWORD>(dpi));
    App app;
    ExpectLayoutAt(app, dpi);
    // The panes' text is in points, which the control scales itself.
    EXPECT_EQ(app.Zoom(app.Control(kIdTabSheet2, kIdLecteur1)), std::make_pair(0, 0));
    if (!Screenshots().empty()) {
        EXPECT_TRUE(app.Screenshot(Screenshots() + L"/scale-" + std::to_wstring(dpi) + L"dpi.png"));
    }
}

INSTANTIATE_TEST_SUITE_P(Dpi, WindowAtScale, ::testing::Values(96, 120, 144, 192));

// Moved to a monitor of another scale: Windows sends WM_DPICHANGED with the
// new scale and a place for the window (Wine sends none: the test does).
TEST(Window, MovedToAMonitorOfAnotherScaleItLaysItselfOutAgain) {
    App app;
    HWND pane = app.Control(kIdTabSheet2, kIdLecteur1);
    for (int dpi : {144, 192, 120, 96}) {
        SCOPED_TRACE(std::to_string(dpi) + " dpi");
        const RECT suggested{20, 20, 20 + Scaled(610, dpi), 20 + Scaled(460, dpi)};
        app.ChangeDpi(dpi, suggested);
        RECT frame;
        GetWindowRect(app.Window(), &frame);
        EXPECT_EQ(frame.left, 20);
        EXPECT_EQ(frame.top, 20);
        ExpectLayoutAt(app, dpi);
        // The panes' text: zoomed by the new scale against the system's (96).
        const auto [numerator, denominator] = app.Zoom(pane);
        if (dpi == 96) {
            EXPECT_EQ(numerator, 0);
        } else {
            EXPECT_EQ(numerator * 96, dpi * denominator) << numerator << "/" << denominator;
        }
        if (!Screenshots().empty()) {
            EXPECT_TRUE(
                app.Screenshot(Screenshots() + L"/moved-to-" + std::to_wstring(dpi) + L"dpi.png"));
        }
    }
}

// A technician reaches the report with the keyboard to scroll or copy it:
// Tab goes through the links, the page control and the shown tab's pane,
// which stays read-only.
TEST(Window, TabGoesThroughTheLinksThePageControlAndTheShownPane) {
    App app;
    const struct {
        int tab;
        int pane;
    } cases[] = {{0, kIdLecteur1}, {1, kIdLecteur2}, {2, kIdLecteur3}};
    for (const auto& c : cases) {
        SCOPED_TRACE("tab " + std::to_string(c.tab));
        app.SelectTab(c.tab);
        // From wherever the focus is, around once and on to the first link.
        std::vector<int> order;
        for (int press = 0; press < 5; ++press) {
            app.PressKey(VK_TAB);
            order.push_back(GetDlgCtrlID(app.Focus()));
        }
        const auto first = std::find(order.begin(), order.end(), kIdLblLink2);
        ASSERT_NE(first, order.end()) << "Tab never reaches the first link";
        std::vector<int> round(first, order.end());
        for (std::size_t i = 0; round.size() < 4; ++i) round.push_back(order[i]);
        round.resize(4);
        EXPECT_EQ(round, (std::vector<int>{kIdLblLink2, kIdLblLink3, kIdPageControl1, c.pane}));
        // Typing into the pane changes nothing.
        while (GetDlgCtrlID(app.Focus()) != c.pane) app.PressKey(VK_TAB);
        app.TypeCharacter(L'x');
        app.PressKey(VK_RETURN);
        EXPECT_TRUE(app.Running());
    }
    EXPECT_EQ(app.Text(app.Control(kIdTabSheet2, kIdLecteur1)), L"");
    EXPECT_EQ(app.Text(app.Control(kIdTabSheet3, kIdLecteur2)), L"");
    EXPECT_EQ(app.Text(app.Control(kIdTabSheet1, kIdLecteur3)), L"");
}

TEST(Window, LayoutAtStartIsTheDesignedOne) {
    App app;
    HWND w = app.Window();
    EXPECT_EQ(app.Text(w), L"Vardel - Contr\u00f4le des lecteurs");

    // Fixed size, system menu and minimise only, client 596 x 427, centred.
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, 596);
    EXPECT_EQ(client.bottom, 427);
    RECT frame;
    GetWindowRect(w, &frame);
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_LE(std::abs((frame.left + frame.right) - screenWidth), 1);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - screenHeight), 1);

    EXPECT_EQ(app.Text(app.Control(kIdLblAbout1)), L"Contr\u00f4le des lecteurs Vitale");
    EXPECT_EQ(app.Text(app.Control(kIdLblAbout2)),
              L"Cette application est compatible avec le logiciel Vardel uniquement");
    EXPECT_EQ(app.Text(app.Control(kIdBtnQuit)), L" Quitter");
    EXPECT_NE(app.Text(app.Control(kIdLblLink2)).find(L">Support \u00e0 Distance</a>"),
              std::wstring::npos);
    EXPECT_NE(app.Text(app.Control(kIdLblLink3)).find(L">Logiciel lecture Vitale</a>"),
              std::wstring::npos);

    // The page control: three tabs, the first selected and its sheet shown.
    HWND tabs = app.Control(kIdPageControl1);
    EXPECT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(app.TabCaption(0), L"Lecteurs PC/SC");
    EXPECT_EQ(app.TabCaption(1), L"Lecteurs COM (GALSS)");
    EXPECT_EQ(app.TabCaption(2), L"Lecteurs PC/SC (sans ScardSvr)");
    EXPECT_TRUE(GetWindowLongW(tabs, GWL_STYLE) & TCS_BUTTONS);
    EXPECT_EQ(app.SelectedTab(), 0);
    EXPECT_TRUE(IsWindowVisible(app.Sheet(kIdTabSheet2)));
    EXPECT_FALSE(IsWindowVisible(app.Sheet(kIdTabSheet3)));
    EXPECT_FALSE(IsWindowVisible(app.Sheet(kIdTabSheet1)));

    const struct {
        int sheet, button, pane;
    } sheets[] = {{kIdTabSheet2, kIdBtnConfig, kIdLecteur1},
                  {kIdTabSheet3, kIdSpeedButton1, kIdLecteur2},
                  {kIdTabSheet1, kIdSpeedButton2, kIdLecteur3}};
    for (const auto& s : sheets) {
        HWND button = app.Control(s.sheet, s.button);
        HWND pane = app.Control(s.sheet, s.pane);
        ASSERT_TRUE(button && pane);
        EXPECT_EQ(app.Text(button), L" Rechercher les lecteurs");
        RECT place;
        GetWindowRect(button, &place);
        MapWindowPoints(nullptr, app.Sheet(s.sheet), reinterpret_cast<POINT*>(&place), 2);
        EXPECT_EQ(place.left, 190);
        EXPECT_EQ(place.top, 24);
        EXPECT_EQ(place.right - place.left, 172);
        EXPECT_EQ(place.bottom - place.top, 30);
        GetWindowRect(pane, &place);
        MapWindowPoints(nullptr, app.Sheet(s.sheet), reinterpret_cast<POINT*>(&place), 2);
        EXPECT_EQ(place.left, 0);
        EXPECT_EQ(place.top, 91);
        EXPECT_EQ(place.right - place.left, 553);
        EXPECT_EQ(place.bottom - place.top, 159);
        // Read-only, both scroll bars, no border; empty at start.
        const LONG paneStyle = GetWindowLongW(pane, GWL_STYLE);
        EXPECT_TRUE(paneStyle & ES_READONLY);
        EXPECT_TRUE((paneStyle & WS_HSCROLL) && (paneStyle & WS_VSCROLL));
        EXPECT_FALSE(paneStyle & WS_BORDER);
        EXPECT_FALSE(GetWindowLongW(pane, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
        EXPECT_EQ(app.Text(pane), L"");
        EXPECT_EQ(GetWindowLongW(button, GWL_STYLE) & WS_TABSTOP, 0) << "takes no focus";
    }
    HWND combo = app.Control(kIdTabSheet1, kIdComboBox1);
    ASSERT_TRUE(combo);
    EXPECT_FALSE(GetWindowLongW(combo, GWL_STYLE) & WS_VISIBLE);
    EXPECT_EQ(app.Text(combo), L"ComboBox1");
}

TEST(Window, SerialTabListsTheUsbPortsOfTheRegistry) {
    const std::vector<std::wstring> lines = UsbPortLines();
    // What the set-up wrote (wine reg add) is there; Wine's own
    // \Device\Serial0 and the name in other letter case are not.
    for (const wchar_t* line : {L"COM3 : \\Device\\USBSER000\r\n", L"COM7 : \\Device\\USBPDO-5\r\n",
                                L"COM9 : \\Device\\USB\r\n"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << Narrow(line);
    }
    App app;
    app.SelectTab(1);
    EXPECT_TRUE(IsWindowVisible(app.Sheet(kIdTabSheet3)));
    EXPECT_FALSE(IsWindowVisible(app.Sheet(kIdTabSheet2)));
    HWND pane = app.Control(kIdTabSheet3, kIdLecteur2);
    std::vector<Span> expected{Bold(L"Cl\u00e9 de registre trouv\u00e9e\r\n", kGreen),
                               Underlined(L"Liste des ports COM :\r\n")};
    for (const std::wstring& line : lines) expected.push_back(Plain(line));
    expected = Merge(expected);

    for (int run = 0; run < 2; ++run) {  // a second run shows only its own report
        app.Click(app.Control(kIdTabSheet3, kIdSpeedButton1));
        const std::vector<Span> runs = app.WaitForRuns(pane, expected, 10s);
        EXPECT_RUNS(runs, expected);
        const std::wstring text = PaneText(runs);
        EXPECT_EQ(text.find(L"usbser001"), std::wstring::npos);
        EXPECT_EQ(text.find(L"Serial0"), std::wstring::npos);
    }
    EXPECT_EQ(app.Text(app.Control(kIdTabSheet2, kIdLecteur1)), L"") << "other panes unchanged";

    if (!Screenshots().empty()) {
        EXPECT_TRUE(app.Screenshot(Screenshots() + L"/tab2-lecteurs-com-galss.png"));
    }
}

TEST(Window, ErrorEscapingAHandlerIsShownAndTheWindowGoesOn) {
    // A USB port whose data is not text stops the serial-port check.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    const DWORD number = 5;
    const wchar_t kBad[] = L"\\Device\\USBZZNUMBER";
    ASSERT_EQ(RegSetValueExW(key, kBad, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                             sizeof number),
              ERROR_SUCCESS);
    struct Cleanup {
        HKEY key;
        const wchar_t* name;
        ~Cleanup() {
            RegDeleteValueW(key, name);
            RegCloseKey(key);
        }
    } cleanup{key, kBad};

    App app;
    app.SelectTab(1);
    app.Click(app.Control(kIdTabSheet3, kIdSpeedButton1));
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = app.FindDialog()) != nullptr; }, 10s))
        << "no message box";
    // The message box's text names the value.
    std::wstring message;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        message += app.Text(child) + L"\n";
    EXPECT_NE(message.find(L"USBZZNUMBER"), std::wstring::npos) << Narrow(message);
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return app.FindDialog() == nullptr; }, 5s));

    // The lines written before the value stay; the program goes on.
    HWND pane = app.Control(kIdTabSheet3, kIdLecteur2);
    const std::wstring before = app.Text(pane);
    EXPECT_EQ(before.rfind(L"Cl\u00e9 de registre trouv\u00e9e", 0), 0u) << Narrow(before);
    EXPECT_TRUE(app.Running());
    RegDeleteValueW(key, kBad);
    app.Click(app.Control(kIdTabSheet3, kIdSpeedButton1));
    EXPECT_TRUE(
        WaitUntil([&] { return app.Text(pane).find(L"COM3 : ") != std::wstring::npos; }, 10s));
    EXPECT_EQ(app.FindDialog(), nullptr);
}

TEST(Window, DirectTabReportsWhatTheLibraryAnswers) {
    App app;
    app.SelectTab(2);
    EXPECT_TRUE(IsWindowVisible(app.Sheet(kIdTabSheet1)));
    HWND pane = app.Control(kIdTabSheet1, kIdLecteur3);
    std::vector<Span> expected;
    if (RealReaders()) {
        expected = {Bold(L"Connect\u00e9 \u00e0 la DLL\r\n", kGreen),
                    Underlined(L"Liste des lecteurs :\r\n")};
        for (const std::wstring& reader : ExpectedReaders())
            expected.push_back(Plain(reader + L"\r\n"));
    } else {
        // Wine 8's winscard.dll establishes no context: SCARD_F_INTERNAL_ERROR.
        expected = {Bold(L"Erreur lors de la connexion \u00e0 la DLL\r\n", kRed),
                    Plain(L"Erreur (-2146435071) : An internal consistency check failed.")};
    }
    expected = Merge(expected);
    app.Click(app.Control(kIdTabSheet1, kIdSpeedButton2));
    EXPECT_RUNS(app.WaitForRuns(pane, expected, 10s), expected);
    if (RealReaders()) {
        // The hidden list holds the names.
        HWND combo = app.Control(kIdTabSheet1, kIdComboBox1);
        EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0),
                  static_cast<LRESULT>(ExpectedReaders().size()));
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(app.Running());
    if (!Screenshots().empty()) {
        EXPECT_TRUE(app.Screenshot(Screenshots() + L"/tab3-lecteurs-pcsc-sans-scardsvr.png"));
    }
}

TEST(Window, ServiceTabReportsWhatTheServiceAnswers) {
    App app;
    HWND pane = app.Control(kIdTabSheet2, kIdLecteur1);
    std::vector<Span> expected;
    if (RealReaders()) {
        expected = {Bold(L"Connect\u00e9 au service\r\n", kGreen),
                    Underlined(L"Liste des lecteurs :\r\n")};
        for (const std::wstring& reader : ExpectedReaders())
            expected.push_back(Plain(reader + L"\r\n"));
    } else {
        expected = {Bold(L"Erreur lors de la connexion au service\r\n", kRed)};
    }
    expected = Merge(expected);
    app.Click(app.Control(kIdTabSheet2, kIdBtnConfig));
    EXPECT_RUNS(app.WaitForRuns(pane, expected, 15s), expected);
    // Nothing more comes, and the program is alive: no call reached a
    // function the library lacks.
    std::this_thread::sleep_for(1s);
    EXPECT_RUNS(app.Runs(pane), expected);
    EXPECT_TRUE(app.Running());
    if (!Screenshots().empty()) {
        EXPECT_TRUE(app.Screenshot(Screenshots() + L"/tab1-lecteurs-pcsc.png"));
    }
}

TEST(Window, QuitterEndsTheProgramCleanly) {
    App app;
    // With a reader manager made (and, over a real service, watching).
    app.Click(app.Control(kIdTabSheet2, kIdBtnConfig));
    ASSERT_TRUE(
        WaitUntil([&] { return !app.Text(app.Control(kIdTabSheet2, kIdLecteur1)).empty(); }, 10s));
    std::this_thread::sleep_for(500ms);
    app.Click(app.Control(kIdBtnQuit));
    EXPECT_EQ(app.WaitForExit(10s), 0);
}

TEST(Window, TheCloseBoxEndsTheProgramCleanly) {
    App app;
    app.Click(app.Control(kIdTabSheet2, kIdBtnConfig));
    ASSERT_TRUE(
        WaitUntil([&] { return !app.Text(app.Control(kIdTabSheet2, kIdLecteur1)).empty(); }, 10s));
    PostMessageW(app.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(app.WaitForExit(10s), 0);
}
