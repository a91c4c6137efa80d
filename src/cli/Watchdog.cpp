#include "cli/Watchdog.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <system_error>

namespace cli {
namespace {

// The pipe's writing end, for the signal handler: set before the handlers
// are installed, cleared after they are removed.
volatile std::sig_atomic_t g_signalPipe = -1;

extern "C" void OnStopSignal(int signal) {
    const int savedErrno = errno;
    const int fd = g_signalPipe;
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // Non-blocking: a full pipe already holds a stop request.
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

void SetStopHandlers(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

Watchdog::Watchdog(StopRequest& stop, Output& err, std::optional<std::chrono::milliseconds> limit,
                   std::string limitText)
    : stop_(stop), err_(err), limit_(limit), limitText_(std::move(limitText)) {
    if (::pipe2(pipe_, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    ::fcntl(pipe_[1], F_SETFL, O_NONBLOCK);
    g_signalPipe = pipe_[1];
    SetStopHandlers(OnStopSignal);
    thread_ = std::thread([this] { Run(); });
}

Watchdog::~Watchdog() {
    Finish();
}

void Watchdog::Finish() {
    if (finished_) return;
    finished_ = true;
    const unsigned char done = 0;
    // The pipe is empty or nearly: this byte is never refused.
    while (::write(pipe_[1], &done, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    SetStopHandlers(SIG_DFL);
    g_signalPipe = -1;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void Watchdog::Run() {
    const Clock::time_point deadline = limit_ ? Clock::now() + *limit_ : kNever;
    Clock::time_point graceEnd = kNever;
    for (;;) {
        const Clock::time_point next = std::min(deadline, graceEnd);
        int timeout = -1;
        if (next != kNever) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 24 * 3600 * 1000));
        }
        pollfd readable{pipe_[0], POLLIN, 0};
        const int ready = ::poll(&readable, 1, timeout);
        if (ready > 0) {
            unsigned char bytes[16];
            const ssize_t got = ::read(pipe_[0], bytes, sizeof bytes);
            for (ssize_t i = 0; i < got; ++i) {
                if (!Take(bytes[i], graceEnd)) return;
            }
        }
        CheckExpiry(deadline, graceEnd);
    }
}

}  // namespace cli
