// An error that escapes one of the window's handlers is shown to the user in
// a message box with its text, and the program goes on.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace gui {

// The text shown for an error that carries none.
QString UnknownErrorText();

// A modal message box with the error's text; returns once the user has
// closed it. Its title is the application's name.
void ShowHandlerError(QWidget* parent, const QString& text);

// Runs a handler; an exception it throws is shown by ShowHandlerError.
void RunHandler(QWidget* parent, const std::function<void()>& handler);

}  // namespace gui
