#include "Win32MainLoop.h"

#include <stdexcept>
#include <utility>

namespace gui_win32 {
namespace {

constexpr wchar_t kWakeClass[] = L"VardelMainThreadWake";
constexpr UINT kWakeMessage = WM_APP + 1;

}  // namespace

Win32MainLoop::Win32MainLoop(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WakeProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWakeClass;
    RegisterClassExW(&wc);  // fails harmlessly when a second loop registers it again
    // A message-only window: never shown, never enumerated, but its messages
    // are dispatched by any loop of the thread, modal ones included.
    wakeWindow_ = CreateWindowExW(0, kWakeClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, nullptr);
    if (!wakeWindow_) throw std::runtime_error("cannot create the main thread's wake-up window");
    SetWindowLongPtrW(wakeWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32MainLoop::~Win32MainLoop() {
    // Before our window goes: no Wake() may post to it afterwards.
    Shutdown();
    SetWindowLongPtrW(wakeWindow_, GWLP_USERDATA, 0);
    DestroyWindow(wakeWindow_);
}

void Win32MainLoop::SetErrorHandler(std::function<void(std::exception_ptr)> handler) {
    onError_ = std::move(handler);
}

void Win32MainLoop::Wake() {
    // Called under the dispatcher's lock from any thread: posting neither
    // blocks nor calls back. A full queue loses this wake-up, not the
    // hand-over: the next message or wake-up runs it.
    PostMessageW(wakeWindow_, kWakeMessage, 0, 0);
}

void Win32MainLoop::Guarded(const std::function<void()>& call) {
    try {
        call();
    } catch (...) {
        if (onError_) {
            onError_(std::current_exception());
        }
    }
}

LRESULT CALLBACK Win32MainLoop::WakeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWakeMessage) {
        if (auto* loop = reinterpret_cast<Win32MainLoop*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            loop->Guarded([loop] { loop->RunPending(); });
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int Win32MainLoop::Run(HWND dialogWindow) {
    MSG msg;
    for (;;) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
            if (dialogWindow && IsDialogMessageW(dialogWindow, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        // Dry: the idle hook once, then sleep until the next message (a
        // message it posted itself ends the wait at once).
        Guarded([this] { RunIdle(); });
        WaitMessage();
    }
}

}  // namespace gui_win32
