// The window's way out on a signal: SIGTERM, SIGINT and SIGHUP end Qt's
// loop with status 0, whether they arrive while the loop runs or before it
// has started, and the previous handlers are back once it is gone.
#include <signal.h>

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include "GuiTestSupport.h"
#include "QuitOnSignals.h"

using namespace guitest;

class QuitOnSignalsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aSignalEndsTheLoopWithStatusZero_data();
    void aSignalEndsTheLoopWithStatusZero();
};

void QuitOnSignalsTest::aSignalEndsTheLoopWithStatusZero_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("beforeTheLoop");
    QTest::newRow("SIGTERM") << SIGTERM << false;
    QTest::newRow("SIGINT") << SIGINT << false;
    QTest::newRow("SIGHUP") << SIGHUP << false;
    QTest::newRow("SIGTERM before the loop") << SIGTERM << true;
}

void QuitOnSignalsTest::aSignalEndsTheLoopWithStatusZero() {
    QFETCH(int, signalNumber);
    QFETCH(bool, beforeTheLoop);
    struct sigaction before {};
    QCOMPARE(::sigaction(signalNumber, nullptr, &before), 0);
    {
        gui::QuitOnSignals quitOnSignals;
        if (beforeTheLoop) {
            ::raise(signalNumber);
        } else {
            QTimer::singleShot(0, [signalNumber] { ::raise(signalNumber); });
        }
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(kGuard);
        QCOMPARE(QCoreApplication::exec(), 0);
    }
    struct sigaction after {};
    QCOMPARE(::sigaction(signalNumber, nullptr, &after), 0);
    QCOMPARE(reinterpret_cast<void*>(after.sa_handler), reinterpret_cast<void*>(before.sa_handler));
}

QTEST_MAIN(QuitOnSignalsTest)
#include "QuitOnSignalsTest.moc"
