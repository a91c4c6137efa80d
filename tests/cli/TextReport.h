// vardel-lecteurs-cli's text in its two parts: the checks' reports, and the
// "== Bilan ==" section that ends them (after a blank line).
#pragma once

#include <string>

namespace cli_test {

inline constexpr const char* kBilanHeading = "\n\n== Bilan ==\n";

// The reports, up to the blank line before the Bilan (all of it when there is none).
inline std::string ReportPart(const std::string& out) {
    const std::size_t at = out.find(kBilanHeading);
    return at == std::string::npos ? out : out.substr(0, at + 1);
}

// The Bilan's lines, its heading left out ("" when there is none).
inline std::string BilanPart(const std::string& out) {
    const std::size_t at = out.find(kBilanHeading);
    return at == std::string::npos ? std::string()
                                   : out.substr(at + std::string(kBilanHeading).size());
}

}  // namespace cli_test
