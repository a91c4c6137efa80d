#include "QuitOnSignals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <iterator>
#include <stdexcept>

namespace gui {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// A handler may only do what is async-signal-safe: it writes one byte into a
// socket that the loop watches, and the loop does the rest.
int g_writeEnd = -1;
int g_readEnd = -1;
struct sigaction g_previous[std::size(kSignals)];

void OnSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // A full socket already holds a wake-up: nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
    errno = savedErrno;
}

}  // namespace

QuitOnSignals::QuitOnSignals() {
    if (g_writeEnd >= 0) throw std::logic_error("QuitOnSignals: already installed");
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        throw std::runtime_error("QuitOnSignals: socketpair failed");
    }
    g_readEnd = ends[0];
    g_writeEnd = ends[1];
    notifier_ = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitOnSignals::SignalArrived);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &action, &g_previous[i]);
    }
}

QuitOnSignals::~QuitOnSignals() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    delete notifier_;
    ::close(g_writeEnd);
    ::close(g_readEnd);
    g_writeEnd = g_readEnd = -1;
}

void QuitOnSignals::SignalArrived() {
    char bytes[16];
    while (::read(g_readEnd, bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
}

}  // namespace gui
