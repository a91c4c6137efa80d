// Drives vardel-lecteurs.exe from another process, as a person would: starts
// it, presses its buttons (BM_CLICK), selects its tabs, reads its panes' text
// and per-run format (WM_GETTEXT, EM_GETTEXTEX, EM_EXSETSEL, EM_GETCHARFORMAT
// through memory of the window's process), finds its message boxes and takes
// pictures of it.
//
// Never includes the PC/SC headers: <windows.h> defines their names as
// macros.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace driver {

// One run of equal format in a pane.
struct Span {
    std::wstring text;  // line ends as CR LF
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    COLORREF color = 0;

    friend bool operator==(const Span&, const Span&) = default;
};

std::string Describe(const std::vector<Span>& runs);
// Joins neighbours of equal format: what a pane shows of a list of pieces.
std::vector<Span> Merge(std::vector<Span> pieces);

Span Plain(const std::wstring& text, COLORREF color = RGB(0, 0, 0));
Span Bold(const std::wstring& text, COLORREF color);
Span Underlined(const std::wstring& text);

inline constexpr COLORREF kRed = RGB(255, 0, 0);
inline constexpr COLORREF kGreen = RGB(0, 128, 0);
inline constexpr COLORREF kBlack = RGB(0, 0, 0);

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);
// The environment variable, "" when unset.
std::wstring Environment(const wchar_t* name);

// Waits until `done` or `timeout`, pumping nothing (the window is another
// process); true when done.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

class App {
public:
    // Starts the program (path from VARDEL_APP) and waits for its window.
    App();
    // Closes it if still running (WM_CLOSE, then terminate after 10 s).
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    HWND Window() const { return window_; }
    // A child of the window or of one of its sheets, by identifier.
    HWND Control(int id) const;
    HWND Sheet(int id) const;
    // A control of a sheet.
    HWND Control(int sheetId, int id) const;

    std::wstring Text(HWND control) const;  // WM_GETTEXT
    // Posted, so that a handler that opens a message box does not block us.
    void Click(HWND button) const;
    void SelectTab(int index) const;
    int SelectedTab() const;
    std::wstring TabCaption(int index) const;
    // The pane's content as runs of equal format.
    std::vector<Span> Runs(HWND pane) const;
    // Waits until the pane's runs equal `expected` or `timeout`; returns the
    // last runs read.
    std::vector<Span> WaitForRuns(HWND pane, const std::vector<Span>& expected,
                                  std::chrono::milliseconds timeout) const;
    // A top-level window of the program's process other than the main one
    // (a message box), or null.
    HWND FindDialog() const;

    bool Running() const;
    // Waits for the program's end; its exit code, or -1 if still running.
    long WaitForExit(std::chrono::milliseconds timeout) const;

    // The window as the screen shows it, written to `path` as a PNG file.
    bool Screenshot(const std::wstring& path) const;

    // A control's place in `parent`'s client area.
    RECT PlaceIn(HWND control, HWND parent) const;
    // The size a control says it needs for its text (and picture): `message`
    // is BCM_GETIDEALSIZE (the window's labels and flat buttons) or
    // LM_GETIDEALSIZE (links).
    SIZE IdealSize(HWND control, UINT message) const;
    // Tab `index` of the page control, in its client area.
    RECT TabRect(int index) const;
    // A rich-edit pane's zoom (EM_GETZOOM): numerator, denominator (0, 0
    // when none).
    std::pair<int, int> Zoom(HWND pane) const;
    // Sends WM_DPICHANGED as Windows does when the window moves to a
    // monitor of scale `dpi`, with the place Windows suggests.
    void ChangeDpi(int dpi, const RECT& suggested) const;
    // The colour the screen shows at a point of the window's client area.
    COLORREF Pixel(POINT client) const;
    // The control that has the keyboard focus in the program, or null.
    HWND Focus() const;
    // Sends a key press (down and up) to the control that has the focus (to
    // the window when none has): what the keyboard does.
    void PressKey(WPARAM key) const;
    void TypeCharacter(wchar_t character) const;

private:
    // Sends `message` with lParam pointing to a copy of `data` in the
    // window's process, and reads the copy back into `data`.
    LRESULT SendWithData(HWND control, UINT message, WPARAM wParam, void* data,
                         std::size_t size) const;

    // Memory in the window's process, for messages that carry a pointer.
    class Remote {
    public:
        Remote(HANDLE process, std::size_t size);
        ~Remote();
        Remote(const Remote&) = delete;
        Remote& operator=(const Remote&) = delete;
        LPARAM Address() const { return reinterpret_cast<LPARAM>(address_); }
        void Write(const void* data, std::size_t size) const;
        void Read(void* data, std::size_t size) const;

    private:
        HANDLE process_;
        void* address_;
    };

    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

}  // namespace driver
