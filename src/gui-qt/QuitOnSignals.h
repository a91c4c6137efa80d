// Ends the window's loop when the program is asked to stop by a signal:
// SIGTERM (a session ending, `kill`), SIGINT (Ctrl+C in the terminal that
// started it) or SIGHUP (that terminal closed). It leaves the way Quitter
// does: the loop returns 0 and the window stops its reader manager on the
// way out, instead of the process dying with the manager's thread inside the
// smart-card service.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace gui {

class QuitOnSignals final : public QObject {
public:
    // Installs the handlers; the application object must exist. One at a
    // time.
    QuitOnSignals();
    // Puts the previous handlers back.
    ~QuitOnSignals() override;

    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

private:
    void SignalArrived();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace gui
