// Captions of the three checks' tabs, in the window's order: the window's
// model (window/MainWindow.h) and the terminal program take them from here.
#pragma once

#include <string_view>

namespace checks {

inline constexpr std::u16string_view kServiceTabCaption = u"Lecteurs PC/SC";
inline constexpr std::u16string_view kSerialTabCaption = u"Lecteurs COM (GALSS)";
inline constexpr std::u16string_view kDirectTabCaption = u"Lecteurs PC/SC (sans ScardSvr)";

}  // namespace checks
