// The reader manager's main thread, served by Qt's event loop: a hand-over
// from the watcher is posted to the GUI thread as an event, which runs the
// pending hand-overs; the idle hook runs each time the loop is about to wait
// for the next event. Created on the GUI thread once the application object
// exists; installed with pcsc::SetMainThread.
#pragma once

#include <QObject>

#include <atomic>

#include "pcsc/MainThread.h"

class QEvent;

namespace gui {

class QtMainThread final : public QObject, public pcsc::MainThreadDispatcher {
    Q_OBJECT

public:
    QtMainThread();
    ~QtMainThread() override;

protected:
    // Posts the event that runs the hand-overs. Called under the
    // dispatcher's lock from any thread: it only posts.
    void Wake() override;
    bool event(QEvent* event) override;

private:
    void AboutToBlock();

    // One posted event is enough for all the hand-overs queued before it
    // runs: later ones post again once it has started.
    std::atomic<bool> wakePosted_{false};
    // Qt hands a posted event over under a lock of its own that
    // ThreadSanitizer does not see: this release (after the event is made)
    // and acquire (before it is read) show it the hand-over.
    std::atomic<unsigned> eventsPosted_{0};
    bool inIdle_ = false;
    // While the error of an idle pass waits to be shown or is on screen, the
    // hook is not run again: a hook failing every pass would otherwise stack
    // one message box on another.
    bool idleErrorShown_ = false;
};

}  // namespace gui
