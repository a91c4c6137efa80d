#include "WindowDriver.h"

#include <commctrl.h>
#include <richedit.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "ControlIds.h"
#include "Win32Text.h"

namespace driver {
namespace {

using namespace std::chrono_literals;

// ---- PNG, written by hand: stored (uncompressed) deflate blocks -------------

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(std::vector<std::uint8_t>& out, const char* type,
           const std::vector<std::uint8_t>& data) {
    Put32(out, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, Crc32(body.data(), body.size()));
}

// RGB rows, top first.
std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb) {
    std::vector<std::uint8_t> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        const auto* row = rgb.data() + static_cast<std::size_t>(y) * width * 3;
        raw.insert(raw.end(), row, row + static_cast<std::size_t>(width) * 3);
    }
    std::vector<std::uint8_t> z{0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (std::size_t pos = 0; pos < raw.size() || pos == 0;) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
        const bool last = pos + n >= raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n & 0xFF));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n & 0xFF));
        z.push_back(static_cast<std::uint8_t>((~n >> 8) & 0xFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        if (last) break;
    }
    Put32(z, (b << 16) | a);

    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    Put32(header, static_cast<std::uint32_t>(width));
    Put32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    return png;
}

std::wstring WindowsPath(std::wstring path) {
    // A Unix path from the build: Wine shows the Unix root as drive Z:.
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

}  // namespace

std::string Narrow(const std::wstring& text) {
    return win32text::Narrow(text);
}

std::wstring Widen(const std::string& text) {
    return win32text::Wide(text);
}

std::wstring Environment(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length);
    return value;
}

std::string Describe(const std::vector<Span>& runs) {
    std::ostringstream out;
    for (const Span& run : runs) {
        std::wstring shown;
        for (wchar_t c : run.text) {
            if (c == L'\r')
                shown += L"\\r";
            else if (c == L'\n')
                shown += L"\\n";
            else
                shown += c;
        }
        out << "  [" << (run.bold ? "B" : "-") << (run.italic ? "I" : "-")
            << (run.underline ? "U" : "-") << (run.strikeOut ? "S" : "-") << " #" << std::hex
            << run.color << std::dec << "] \"" << Narrow(shown) << "\"\n";
    }
    return out.str();
}

std::vector<Span> Merge(std::vector<Span> pieces) {
    std::vector<Span> runs;
    for (Span& piece : pieces) {
        if (piece.text.empty()) continue;
        if (!runs.empty()) {
            Span& last = runs.back();
            if (last.bold == piece.bold && last.italic == piece.italic &&
                last.underline == piece.underline && last.strikeOut == piece.strikeOut &&
                last.color == piece.color) {
                last.text += piece.text;
                continue;
            }
        }
        runs.push_back(std::move(piece));
    }
    return runs;
}

Span Plain(const std::wstring& text, COLORREF color) {
    return Span{text, false, false, false, false, color};
}
Span Bold(const std::wstring& text, COLORREF color) {
    return Span{text, true, false, false, false, color};
}
Span Underlined(const std::wstring& text) {
    return Span{text, false, false, true, false, kBlack};
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// ---- Remote memory --------------------------------------------------------------

App::Remote::Remote(HANDLE process, std::size_t size)
    : process_(process),
      address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {
    if (!address_) throw std::runtime_error("VirtualAllocEx failed");
}

App::Remote::~Remote() {
    VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}

void App::Remote::Write(const void* data, std::size_t size) const {
    if (!WriteProcessMemory(process_, address_, data, size, nullptr))
        throw std::runtime_error("WriteProcessMemory failed");
}

void App::Remote::Read(void* data, std::size_t size) const {
    if (!ReadProcessMemory(process_, address_, data, size, nullptr))
        throw std::runtime_error("ReadProcessMemory failed");
}

// ---- The program -----------------------------------------------------------------

App::App() {
    const std::wstring app = WindowsPath(Environment(L"VARDEL_APP"));
    if (app.empty()) throw std::runtime_error("VARDEL_APP is not set");
    std::wstring command = L"\"" + app + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(app.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_))
        throw std::runtime_error("cannot start " + Narrow(app) + " (error " +
                                 std::to_string(GetLastError()) + ")");
    WaitForInputIdle(process_.hProcess, 10000);
    const DWORD pid = process_.dwProcessId;
    WaitUntil(
        [&] {
            HWND found = nullptr;
            while ((found = FindWindowExW(nullptr, found, gui_win32::kMainWindowClass, nullptr))) {
                DWORD owner = 0;
                GetWindowThreadProcessId(found, &owner);
                if (owner == pid && IsWindowVisible(found)) {
                    window_ = found;
                    return true;
                }
            }
            return false;
        },
        20s);
    if (!window_) throw std::runtime_error("the window did not appear");
    std::this_thread::sleep_for(300ms);  // first paint
}

App::~App() {
    if (Running()) {
        if (HWND dialog = FindDialog()) PostMessageW(dialog, WM_CLOSE, 0, 0);
        PostMessageW(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 99);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

HWND App::Control(int id) const {
    return GetDlgItem(window_, id);
}
HWND App::Sheet(int id) const {
    return GetDlgItem(window_, id);
}
HWND App::Control(int sheetId, int id) const {
    return GetDlgItem(Sheet(sheetId), id);
}

std::wstring App::Text(HWND control) const {
    const auto length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const auto got =
        SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(got));
    return text;
}

void App::Click(HWND button) const {
    PostMessageW(button, BM_CLICK, 0, 0);
}

void App::SelectTab(int index) const {
    SendMessageW(Control(gui_win32::kIdPageControl1), TCM_SETCURSEL, index, 0);
    std::this_thread::sleep_for(200ms);
}

int App::SelectedTab() const {
    return static_cast<int>(SendMessageW(Control(gui_win32::kIdPageControl1), TCM_GETCURSEL, 0, 0));
}

std::wstring App::TabCaption(int index) const {
    constexpr std::size_t kChars = 128;
    Remote remote(process_.hProcess, sizeof(TCITEMW) + kChars * sizeof(wchar_t));
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = reinterpret_cast<wchar_t*>(remote.Address() + sizeof(TCITEMW));
    item.cchTextMax = kChars;
    remote.Write(&item, sizeof item);
    if (!SendMessageW(Control(gui_win32::kIdPageControl1), TCM_GETITEMW, index, remote.Address()))
        return L"<none>";
    std::vector<std::uint8_t> all(sizeof(TCITEMW) + kChars * sizeof(wchar_t));
    remote.Read(all.data(), all.size());
    const auto* text = reinterpret_cast<const wchar_t*>(all.data() + sizeof(TCITEMW));
    return std::wstring(text, wcsnlen(text, kChars));
}

std::vector<Span> App::Runs(HWND pane) const {
    // The text as the control counts it (one CR per line end).
    const auto length = static_cast<std::size_t>(SendMessageW(pane, WM_GETTEXTLENGTH, 0, 0));
    const std::size_t chars = length + 2;
    Remote text(process_.hProcess, sizeof(GETTEXTEX) + chars * sizeof(wchar_t));
    GETTEXTEX request{};
    request.cb = static_cast<DWORD>(chars * sizeof(wchar_t));
    request.flags = GT_DEFAULT;
    request.codepage = 1200;
    text.Write(&request, sizeof request);
    const auto got =
        SendMessageW(pane, EM_GETTEXTEX, text.Address(), text.Address() + sizeof(GETTEXTEX));
    std::vector<std::uint8_t> raw(sizeof(GETTEXTEX) + chars * sizeof(wchar_t));
    text.Read(raw.data(), raw.size());
    const std::wstring content(reinterpret_cast<const wchar_t*>(raw.data() + sizeof(GETTEXTEX)),
                               static_cast<std::size_t>(got));

    Remote range(process_.hProcess, sizeof(CHARRANGE));
    Remote format(process_.hProcess, sizeof(CHARFORMAT2W));
    std::vector<Span> pieces;
    for (std::size_t i = 0; i < content.size(); ++i) {
        CHARRANGE selection{static_cast<LONG>(i), static_cast<LONG>(i + 1)};
        range.Write(&selection, sizeof selection);
        SendMessageW(pane, EM_EXSETSEL, 0, range.Address());
        CHARFORMAT2W cf{};
        cf.cbSize = sizeof cf;
        format.Write(&cf, sizeof cf);
        SendMessageW(pane, EM_GETCHARFORMAT, SCF_SELECTION, format.Address());
        format.Read(&cf, sizeof cf);
        Span run;
        run.text = content[i] == L'\r' ? std::wstring(L"\r\n") : std::wstring(1, content[i]);
        run.bold = (cf.dwEffects & CFE_BOLD) != 0;
        run.italic = (cf.dwEffects & CFE_ITALIC) != 0;
        run.underline = (cf.dwEffects & CFE_UNDERLINE) != 0;
        run.strikeOut = (cf.dwEffects & CFE_STRIKEOUT) != 0;
        run.color = (cf.dwEffects & CFE_AUTOCOLOR) ? GetSysColor(COLOR_WINDOWTEXT) : cf.crTextColor;
        pieces.push_back(run);
    }
    return Merge(std::move(pieces));
}

std::vector<Span> App::WaitForRuns(HWND pane, const std::vector<Span>& expected,
                                   std::chrono::milliseconds timeout) const {
    std::vector<Span> runs;
    WaitUntil(
        [&] {
            runs = Runs(pane);
            return runs == expected;
        },
        timeout);
    return runs;
}

namespace {

struct DialogSearch {
    DWORD pid;
    HWND main;
    HWND found;
};

// A callback of Windows' own calling convention (stdcall on x86, which a
// lambda does not convert to).
BOOL CALLBACK FindDialogOf(HWND window, LPARAM data) {
    auto* s = reinterpret_cast<DialogSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if (owner == s->pid && window != s->main && IsWindowVisible(window) &&
        std::wstring(cls) == L"#32770") {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND App::FindDialog() const {
    DialogSearch search{process_.dwProcessId, window_, nullptr};
    EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool App::Running() const {
    return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

long App::WaitForExit(std::chrono::milliseconds timeout) const {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) !=
        WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<long>(code);
}

bool App::Screenshot(const std::wstring& path) const {
    RedrawWindow(window_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    std::this_thread::sleep_for(300ms);
    RECT frame;
    GetWindowRect(window_, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    GdiFlush();
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    const auto* bgra = static_cast<const std::uint8_t*>(bits);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
        rgb[i * 3] = bgra[i * 4 + 2];
        rgb[i * 3 + 1] = bgra[i * 4 + 1];
        rgb[i * 3 + 2] = bgra[i * 4];
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    const std::vector<std::uint8_t> png = EncodePng(width, height, rgb);
    std::ofstream file(std::filesystem::path(WindowsPath(path)), std::ios::binary);
    file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return file.good();
}

// ---- Layout and keyboard -----------------------------------------------------------

LRESULT App::SendWithData(HWND control, UINT message, WPARAM wParam, void* data,
                          std::size_t size) const {
    Remote remote(process_.hProcess, size);
    remote.Write(data, size);
    const LRESULT result = SendMessageW(control, message, wParam, remote.Address());
    remote.Read(data, size);
    return result;
}

RECT App::PlaceIn(HWND control, HWND parent) const {
    RECT place{};
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

SIZE App::IdealSize(HWND control, UINT message) const {
    SIZE size{};
    // LM_GETIDEALSIZE takes the widest width allowed in wParam.
    SendWithData(control, message, 4096, &size, sizeof size);
    return size;
}

RECT App::TabRect(int index) const {
    RECT place{};
    SendWithData(Control(gui_win32::kIdPageControl1), TCM_GETITEMRECT, static_cast<WPARAM>(index),
                 &place, sizeof place);
    return place;
}

std::pair<int, int> App::Zoom(HWND pane) const {
    // EM_GETZOOM writes through both its parameters.
    Remote remote(process_.hProcess, 2 * sizeof(int));
    const int zero[2] = {0, 0};
    remote.Write(zero, sizeof zero);
    SendMessageW(pane, EM_GETZOOM, static_cast<WPARAM>(remote.Address()),
                 remote.Address() + static_cast<LPARAM>(sizeof(int)));
    int ratio[2] = {0, 0};
    remote.Read(ratio, sizeof ratio);
    return {ratio[0], ratio[1]};
}

void App::ChangeDpi(int dpi, const RECT& suggested) const {
    RECT place = suggested;
    SendWithData(window_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), &place, sizeof place);
    std::this_thread::sleep_for(300ms);  // repaint
}

COLORREF App::Pixel(POINT client) const {
    ClientToScreen(window_, &client);
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, client.x, client.y);
    ReleaseDC(nullptr, screen);
    return colour;
}

HWND App::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

void App::PressKey(WPARAM key) const {
    HWND target = Focus();
    if (!target) target = window_;
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, 1 | (static_cast<LPARAM>(scan) << 16));
    PostMessageW(target, WM_KEYUP, key, 1 | (static_cast<LPARAM>(scan) << 16) | (3l << 30));
    std::this_thread::sleep_for(150ms);
}

void App::TypeCharacter(wchar_t character) const {
    HWND target = Focus();
    if (!target) target = window_;
    PostMessageW(target, WM_CHAR, character, 1);
    std::this_thread::sleep_for(150ms);
}

}  // namespace driver
