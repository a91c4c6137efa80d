#include "QtMainThread.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QString>
#include <QTimer>

#include <exception>

#include "HandlerErrors.h"

namespace gui {
namespace {

const QEvent::Type kRunPending = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

QtMainThread::QtMainThread() {
    QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance(thread());
    connect(loop, &QAbstractEventDispatcher::aboutToBlock, this, &QtMainThread::AboutToBlock);
}

QtMainThread::~QtMainThread() {
    // Before anything of ours goes: no Wake() may come in afterwards.
    Shutdown();
}

void QtMainThread::Wake() {
    if (!wakePosted_.exchange(true)) {
        auto* event = new QEvent(kRunPending);
        eventsPosted_.fetch_add(1, std::memory_order_release);
        QCoreApplication::postEvent(this, event);
    }
}

bool QtMainThread::event(QEvent* event) {
    (void)eventsPosted_.load(std::memory_order_acquire);
    if (event->type() != kRunPending) return QObject::event(event);
    wakePosted_.store(false);
    // RunPending hands an exception of a call back to the thread that handed
    // it over: none comes out here.
    RunPending();
    return true;
}

void QtMainThread::AboutToBlock() {
    // A handler that runs a loop of its own (a message box) must not get the
    // idle hook again from inside it.
    if (inIdle_ || idleErrorShown_) return;
    inIdle_ = true;
    QString error;
    try {
        RunIdle();
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    } catch (...) {
        error = UnknownErrorText();
    }
    inIdle_ = false;
    if (!error.isNull()) {
        // Shown from the loop proper, not from inside its wait.
        idleErrorShown_ = true;
        QTimer::singleShot(0, this, [this, error] {
            ShowHandlerError(QApplication::activeWindow(), error);
            idleErrorShown_ = false;
        });
    }
}

}  // namespace gui
