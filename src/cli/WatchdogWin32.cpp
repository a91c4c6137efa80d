// The watchdog of Watchdog.h on Windows, which has neither signals to catch
// nor poll(): Ctrl+C, Ctrl+Break and the console's closing reach a console
// control handler, which runs on a thread of its own and hands the request
// to the watchdog's thread through a condition variable instead of a pipe.
// Built in place of Watchdog.cpp; the rest behaves the same.
#include "cli/Watchdog.h"

// After the PC/SC declarations: <windows.h> defines their names as macros.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <vector>

namespace cli {
namespace {

// What the console handler and Finish() tell the watchdog's thread: a
// signal number, or 0 for "the run is over".
struct Channel {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<int> events;
    bool open = false;  // a watchdog listens
};

Channel& TheChannel() {
    static Channel* channel = new Channel;  // never destroyed: the handler may outlive main
    return *channel;
}

void Send(int event) {
    Channel& channel = TheChannel();
    std::lock_guard lock(channel.mutex);
    if (!channel.open) return;
    channel.events.push_back(event);
    channel.changed.notify_one();
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT: Send(SIGINT); return TRUE;
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT: Send(SIGTERM); return TRUE;
        default: return FALSE;
    }
}

}  // namespace

Watchdog::Watchdog(StopRequest& stop, Output& err, std::optional<std::chrono::milliseconds> limit,
                   std::string limitText)
    : stop_(stop), err_(err), limit_(limit), limitText_(std::move(limitText)) {
    {
        Channel& channel = TheChannel();
        std::lock_guard lock(channel.mutex);
        channel.events.clear();
        channel.open = true;
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    thread_ = std::thread([this] { Run(); });
}

Watchdog::~Watchdog() {
    Finish();
}

void Watchdog::Finish() {
    if (finished_) return;
    finished_ = true;
    Send(0);
    thread_.join();
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    Channel& channel = TheChannel();
    std::lock_guard lock(channel.mutex);
    channel.open = false;
    channel.events.clear();
}

void Watchdog::Run() {
    const Clock::time_point deadline = limit_ ? Clock::now() + *limit_ : kNever;
    Clock::time_point graceEnd = kNever;
    Channel& channel = TheChannel();
    for (;;) {
        std::vector<int> events;
        {
            std::unique_lock lock(channel.mutex);
            const Clock::time_point next = std::min(deadline, graceEnd);
            const auto ready = [&] { return !channel.events.empty(); };
            if (next == kNever) {
                channel.changed.wait(lock, ready);
            } else {
                channel.changed.wait_until(lock, next, ready);
            }
            events.assign(channel.events.begin(), channel.events.end());
            channel.events.clear();
        }
        for (int event : events) {
            if (!Take(event, graceEnd)) return;
        }
        CheckExpiry(deadline, graceEnd);
    }
}

}  // namespace cli
