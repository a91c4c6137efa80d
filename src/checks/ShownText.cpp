#include "checks/ShownText.h"

#include "pcsc/TextConversions.h"

namespace checks {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool BreaksOrReorders(char16_t c) {
    return (c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::u16string ShownText(std::u16string_view text) {
    std::u16string shown(text);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const char16_t c = shown[i];
        if (pcsc::IsHighSurrogate(c) && i + 1 < shown.size() &&
            pcsc::IsLowSurrogate(shown[i + 1])) {
            ++i;  // a pair: one character beyond U+FFFF
        } else if (BreaksOrReorders(c) || pcsc::IsHighSurrogate(c) || pcsc::IsLowSurrogate(c)) {
            shown[i] = kReplacement;
        }
    }
    return shown;
}

}  // namespace checks
