// The addresses the window's two links open (CMake options
// VARDEL_SUPPORT_URL and VARDEL_PRODUCT_URL, shared with the Qt window).
#pragma once

namespace gui_win32 {

// "Support à Distance": the remote-support download page.
inline constexpr const char* kSupportUrl = VARDEL_SUPPORT_URL;
// "Logiciel lecture Vitale": the product's web site.
inline constexpr const char* kProductUrl = VARDEL_PRODUCT_URL;

}  // namespace gui_win32
