// The application's look, the same on every desktop: the window is laid out
// in pixels for Tahoma, so Tahoma is used wherever it can be found, with one
// style and one light palette whatever the desktop's theme.
#pragma once

#include <QFont>
#include <QIcon>

class QApplication;

namespace gui {

// Debian's fonts-wine puts its Tahoma outside fontconfig's folders.
inline constexpr const char* kWineFontDir = "/usr/share/wine/fonts";

// Makes the Tahoma of `dir` known to the application; true when it could be
// added.
bool RegisterTahoma(const char* dir = kWineFontDir);

// Tahoma (or, without it, a close sans) whose characters are `pixels` high.
QFont TahomaFont(int pixels, bool bold = false);

// The application's icon, in every size it is drawn at.
QIcon ApplicationIcon();

// Fonts, style, palette and icon, before the window is made.
void PrepareApplication(QApplication& app);

}  // namespace gui
