#include "HandlerErrors.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <exception>

namespace gui {

QString UnknownErrorText() {
    return QStringLiteral("Erreur inconnue");
}

void ShowHandlerError(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("HandlerError"));
    box.exec();
}

void RunHandler(QWidget* parent, const std::function<void()>& handler) {
    QString error;
    try {
        handler();
        return;
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    } catch (...) {
        error = UnknownErrorText();
    }
    ShowHandlerError(parent, error);
}

}  // namespace gui
