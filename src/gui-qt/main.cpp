// vardel-lecteurs: the desktop window. Start-up: the application, its look,
// the reader manager's main thread on Qt's loop, the main window (its
// creation handler selects the first tab), then the loop until Quitter,
// the window's close or a signal to stop ends it.
#include <QApplication>

#include "Look.h"
#include "QtMainThread.h"
#include "QuitOnSignals.h"
#include "pcsc/MainThread.h"
#include "ppal.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    gui::PrepareApplication(application);
    // SIGTERM, SIGINT and SIGHUP leave as Quitter does.
    gui::QuitOnSignals quitOnSignals;

    gui::QtMainThread mainThread;
    pcsc::SetMainThread(&mainThread);

    // A top-level window owns its taskbar button.
    gui::Tfiche_ppal fiche_ppal;
    fiche_ppal.show();
    const int code = QApplication::exec();
    // fiche_ppal goes first, stopping its reader manager while the main
    // thread still answers; then the main thread uninstalls itself.
    return code;
}
