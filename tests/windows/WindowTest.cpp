// vardel-lecteurs.exe under Wine, driven from another process: its layout at
// start, the three checks' reports with their formats, an error escaping a
// handler, the way out, and a picture of each tab.
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
#include <thread>

#include "ControlIds.h"

using namespace driver;
using namespace gui_win32;
using namespace std::chrono_literals;

namespace {

const wchar_t kSerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

bool RealReaders() { return Environment(L"VARDEL_SERVICE") == L"readers"; }

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
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_READ, &key) != ERROR_SUCCESS) return lines;
    for (DWORD index = 0;; ++index) {
        wchar_t name[512];
        DWORD nameLength = 512;
        BYTE data[1024];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
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

std::wstring Screenshots() { return Environment(L"VARDEL_SCREENSHOTS"); }

std::wstring PaneText(const std::vector<Span>& runs) {
    std::wstring text;
    for (const Span& run : runs) text += run.text;
    return text;
}

#define EXPECT_RUNS(actual, expected) \
    EXPECT_EQ(actual, expected) << "pane:\n" << Describe(actual) << "expected:\n" << Describe(expected)

}  // namespace

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
    EXPECT_NE(app.Text(app.Control(kIdLblLink2)).find(L">Support \u00e0 Distance</a>"), std::wstring::npos);
    EXPECT_NE(app.Text(app.Control(kIdLblLink3)).find(L">Logiciel lecture Vitale</a>"), std::wstring::npos);

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
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const DWORD number = 5;
    const wchar_t kBad[] = L"\\Device\\USBZZNUMBER";
    ASSERT_EQ(RegSetValueExW(key, kBad, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
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
    EXPECT_TRUE(WaitUntil([&] { return app.Text(pane).find(L"COM3 : ") != std::wstring::npos; }, 10s));
    EXPECT_EQ(app.FindDialog(), nullptr);
}

TEST(Window, DirectTabReportsWhatTheLibraryAnswers) {
    App app;
    app.SelectTab(2);
    EXPECT_TRUE(IsWindowVisible(app.Sheet(kIdTabSheet1)));
    HWND pane = app.Control(kIdTabSheet1, kIdLecteur3);
    std::vector<Span> expected;
    if (RealReaders()) {
        expected = {Bold(L"Connect\u00e9 \u00e0 la DLL\r\n", kGreen), Underlined(L"Liste des lecteurs :\r\n")};
        for (const std::wstring& reader : ExpectedReaders()) expected.push_back(Plain(reader + L"\r\n"));
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
        EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), static_cast<LRESULT>(ExpectedReaders().size()));
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
        expected = {Bold(L"Connect\u00e9 au service\r\n", kGreen), Underlined(L"Liste des lecteurs :\r\n")};
        for (const std::wstring& reader : ExpectedReaders()) expected.push_back(Plain(reader + L"\r\n"));
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
    ASSERT_TRUE(WaitUntil([&] { return !app.Text(app.Control(kIdTabSheet2, kIdLecteur1)).empty(); }, 10s));
    std::this_thread::sleep_for(500ms);
    app.Click(app.Control(kIdBtnQuit));
    EXPECT_EQ(app.WaitForExit(10s), 0);
}

TEST(Window, TheCloseBoxEndsTheProgramCleanly) {
    App app;
    app.Click(app.Control(kIdTabSheet2, kIdBtnConfig));
    ASSERT_TRUE(WaitUntil([&] { return !app.Text(app.Control(kIdTabSheet2, kIdLecteur1)).empty(); }, 10s));
    PostMessageW(app.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(app.WaitForExit(10s), 0);
}
