// UTF-8 <-> UTF-16: well-formed text goes through both ways unchanged;
// ill-formed text never crashes, and what cannot be read becomes U+FFFD.
//
// Input: used twice — as UTF-8 bytes, and as UTF-16 little-endian text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "pcsc/TextConversions.h"

namespace {

using pcsc::Utf16ToUtf8;
using pcsc::Utf8ToUtf16;

constexpr char16_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
}

// Strict UTF-8 (RFC 3629, Unicode table 3-7), one code point at a time:
// the length of the well-formed sequence at text[i], or 0.
std::size_t WellFormedSequence(std::string_view text, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (b0 <= 0x7F) {
        cp = b0;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, cp = b0 & 0x0F;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, cp = b0 & 0x07;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char b = byte(i + k);
        const unsigned char lo = k == 1 ? low : 0x80;
        const unsigned char hi = k == 1 ? high : 0xBF;
        if (b < lo || b > hi) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    return length;
}

// The UTF-16 form of the longest well-formed prefix, and whether that prefix
// is the whole text.
struct Decoded {
    std::u16string text;
    std::size_t prefixBytes = 0;
};
Decoded DecodeWellFormedPrefix(std::string_view utf8) {
    Decoded d;
    char32_t cp = 0;
    while (d.prefixBytes < utf8.size()) {
        const std::size_t length = WellFormedSequence(utf8, d.prefixBytes, cp);
        if (!length) break;
        AppendUtf16(d.text, cp);
        d.prefixBytes += length;
    }
    return d;
}

bool IsWellFormedUtf16(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

// Every unpaired surrogate replaced by U+FFFD, pairs kept.
std::u16string ReplaceUnpaired(std::u16string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out += c;
            out += text[++i];
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out += kReplacement;
        } else {
            out += c;
        }
    }
    return out;
}

void CheckUtf8Input(std::string_view utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    FUZZ_CHECK(IsWellFormedUtf16(wide));
    const Decoded prefix = DecodeWellFormedPrefix(utf8);
    if (prefix.prefixBytes == utf8.size()) {
        FUZZ_CHECK_MSG(wide == prefix.text, fuzz::Printable(wide));
        FUZZ_CHECK(Utf16ToUtf8(wide) == utf8);
        return;
    }
    // What could be read is kept; the first sequence that cannot be read
    // becomes U+FFFD.
    FUZZ_CHECK_MSG(wide.compare(0, prefix.text.size(), prefix.text) == 0, fuzz::Printable(wide));
    FUZZ_CHECK_MSG(wide.size() > prefix.text.size() && wide[prefix.text.size()] == kReplacement,
                   fuzz::Printable(wide));
    // Never more characters than bytes: nothing is invented.
    FUZZ_CHECK(wide.size() <= utf8.size());
    // The repaired text is well-formed and stable from then on.
    FUZZ_CHECK(Utf8ToUtf16(Utf16ToUtf8(wide)) == wide);
}

void CheckUtf16Input(std::u16string_view text) {
    const std::string utf8 = Utf16ToUtf8(text);
    FUZZ_CHECK(DecodeWellFormedPrefix(utf8).prefixBytes == utf8.size());
    const std::u16string back = Utf8ToUtf16(utf8);
    FUZZ_CHECK_MSG(back == ReplaceUnpaired(text), fuzz::Printable(back));
    if (IsWellFormedUtf16(text)) FUZZ_CHECK(back == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckUtf8Input(std::string_view(reinterpret_cast<const char*>(data), size));
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    CheckUtf16Input(text);
    return 0;
}
