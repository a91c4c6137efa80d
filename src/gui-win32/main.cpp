// vardel-lecteurs.exe: the window, its message loop serving the library's
// main thread, and a clean end (the reader manager is stopped before the
// window and the loop go).
#include "ppal.h"

#include <commctrl.h>

#include <string>

#include "Win32MainLoop.h"
#include "window/MainWindow.h"

namespace {

// The rich-edit panes' class, from the system directory only: never a
// msftedit.dll lying beside the program or in the current folder. Systems
// without LOAD_LIBRARY_SEARCH_SYSTEM32 get the full path instead.
bool LoadRichEdit() {
    if (LoadLibraryExW(L"msftedit.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const std::wstring path = std::wstring(directory, length) + L"\\msftedit.dll";
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) != nullptr;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    using gui_win32::Tfiche_ppal;

    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_TAB_CLASSES | ICC_LINK_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!LoadRichEdit()) {
        const std::u16string_view title = window::Find("fiche_ppal").caption;
        MessageBoxW(nullptr, L"msftedit.dll est introuvable",
                    std::wstring(title.begin(), title.end()).c_str(), MB_OK | MB_ICONERROR);
        return 1;
    }
    if (!Tfiche_ppal::RegisterClasses(instance)) return 1;

    gui_win32::Win32MainLoop loop(instance);
    pcsc::SetMainThread(&loop);
    int code = 1;
    {
        Tfiche_ppal fiche_ppal(instance);
        if (fiche_ppal.Create()) {
            loop.SetErrorHandler(
                [&fiche_ppal](std::exception_ptr error) { fiche_ppal.ShowException(error); });
            fiche_ppal.Show(showCommand);
            code = loop.Run(fiche_ppal.Handle());
            loop.SetErrorHandler(nullptr);
        }
        // Stops the reader manager, then destroys the window.
        fiche_ppal.Close();
    }
    pcsc::SetMainThread(nullptr);
    return code;
}
