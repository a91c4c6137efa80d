// Prints where the window's tabs and buttons are, for the script that drives
// vardel-lecteurs through an X server as a user would (widgets are not X
// windows: xdotool needs their coordinates). The window is built offscreen
// with the same fonts and style, so its layout is the one the X server shows.
//
// Output, one per line, in the window's client coordinates:
//   tab INDEX X Y        the centre of a tab of PageControl1
//   button NAME X Y      the centre of a button
#include <QApplication>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include <cstdio>

#include "Look.h"
#include "ppal.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    gui::PrepareApplication(application);
    gui::Tfiche_ppal window;
    window.show();

    auto* pages = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    QTabBar* bar = pages->tabBar();
    for (int i = 0; i < bar->count(); ++i) {
        const QPoint centre = bar->mapTo(&window, bar->tabRect(i).center());
        std::printf("tab %d %d %d\n", i, centre.x(), centre.y());
    }
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        for (QPushButton* button : pages->widget(i)->findChildren<QPushButton*>()) {
            const QPoint centre = button->mapTo(&window, button->rect().center());
            std::printf("button %s %d %d\n", qPrintable(button->objectName()), centre.x(),
                        centre.y());
        }
    }
    auto* quit = window.findChild<QPushButton*>(QStringLiteral("btn_quit"));
    const QPoint centre = quit->mapTo(&window, quit->rect().center());
    std::printf("button btn_quit %d %d\n", centre.x(), centre.y());
    return 0;
}
