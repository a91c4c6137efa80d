#include "Look.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QString>
#include <QStyle>
#include <QStyleFactory>

#include "window/MainWindow.h"

namespace gui {

bool RegisterTahoma(const char* dir) {
    // Only the regular face: the bold file fonts-wine ships draws thin, wide
    // strokes, while Qt's own emboldening of the regular face looks as bold
    // Tahoma should.
    const QString path = QDir(QString::fromLocal8Bit(dir)).filePath(QStringLiteral("tahoma.ttf"));
    return QFile::exists(path) && QFontDatabase::addApplicationFont(path) >= 0;
}

QFont TahomaFont(int pixels, bool bold) {
    QFont font(QString::fromUtf16(window::kFontFace.data(),
                                  static_cast<qsizetype>(window::kFontFace.size())));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/pictures/vardel-lecteurs-%1.png").arg(size),
                     QSize(size, size));
    }
    return icon;
}

void PrepareApplication(QApplication& app) {
    RegisterTahoma();
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        app.setStyle(fusion);
    }
    app.setPalette(app.style()->standardPalette());
    app.setWindowIcon(ApplicationIcon());
    // Wayland's application id: desktops find the menu entry by it.
    QGuiApplication::setDesktopFileName(QStringLiteral(VARDEL_APP_ID));
}

}  // namespace gui
