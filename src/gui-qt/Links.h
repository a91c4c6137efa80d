// The addresses the window's two links open. Whoever packages the tool sets
// them (CMake options VARDEL_SUPPORT_URL and VARDEL_PRODUCT_URL); the
// defaults are placeholders that open nothing real.
#pragma once

namespace gui {

// "Support à Distance": the remote-support download page.
inline constexpr const char* kSupportUrl = VARDEL_SUPPORT_URL;
// "Logiciel lecture Vitale": the product's web site.
inline constexpr const char* kProductUrl = VARDEL_PRODUCT_URL;

}  // namespace gui
