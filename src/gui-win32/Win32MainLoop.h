// The library's main thread served by the Windows message loop: a hand-over
// from the watcher posts a message to a hidden window of the main thread,
// whose handling runs the pending hand-overs, also while a modal loop (a
// message box, a moved window) has the thread. When the queue runs dry the
// loop calls the idle hook once, then waits for the next message.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>

#include "pcsc/MainThread.h"

namespace gui_win32 {

class Win32MainLoop : public pcsc::MainThreadDispatcher {
public:
    // On the main thread, after the window classes may be registered.
    explicit Win32MainLoop(HINSTANCE instance);
    ~Win32MainLoop() override;

    // What to do with an exception that escapes the idle hook or a
    // hand-over's servicing: shown by the window, the loop goes on.
    void SetErrorHandler(std::function<void(std::exception_ptr)> handler);

    // Runs until WM_QUIT; returns its code. Keyboard navigation of
    // dialogWindow's controls (Tab, arrows) goes through IsDialogMessage.
    int Run(HWND dialogWindow);

protected:
    void Wake() override;

private:
    static LRESULT CALLBACK WakeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Guarded(const std::function<void()>& call);

    HWND wakeWindow_ = nullptr;
    std::function<void(std::exception_ptr)> onError_;
};

}  // namespace gui_win32
