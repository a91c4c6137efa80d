// Reader names as pcsc-lite hands them over (bytes), through the name codec
// and back: the bytes come back exactly, whatever they are, so that a name
// read from the service names the same reader in later calls; UTF-8 names
// read as they always did; and a line showing any name can neither be
// broken nor reordered by it.
//
// Input: the bytes of a name (NULs included: a multi-string goes through the
// codec whole); then the same input as UTF-16 little-endian text, for the
// other direction and for the shown form of any text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "checks/ShownText.h"
#include "pcsc/TextConversions.h"

namespace {

bool IsHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

bool HasUnpairedSurrogate(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
            ++i;
        } else if (IsHigh(text[i]) || IsLow(text[i])) {
            return true;
        }
    }
    return false;
}

void CheckBytes(std::string_view bytes) {
    const std::u16string name = pcsc::NameFromBytes(bytes);
    FUZZ_CHECK_MSG(pcsc::NameToBytes(name) == bytes, fuzz::Printable(name));
    FUZZ_CHECK(name.size() <= bytes.size());  // the listing's room holds the name

    // Well-formed UTF-8 reads as the plain conversion reads it; anything else
    // keeps at least one byte as it was.
    const bool utf8 = pcsc::Utf16ToUtf8(pcsc::Utf8ToUtf16(bytes)) == bytes;
    FUZZ_CHECK(pcsc::HasUndecodedBytes(name) == !utf8);
    if (utf8) FUZZ_CHECK(name == pcsc::Utf8ToUtf16(bytes));
}

void CheckText(std::u16string_view text) {
    // A name without unpaired surrogates is plain text: bytes and back.
    if (!HasUnpairedSurrogate(text)) {
        FUZZ_CHECK(pcsc::NameFromBytes(pcsc::NameToBytes(text)) == text);
        FUZZ_CHECK(!pcsc::HasUndecodedBytes(text));
    }

    // Shown: the same length, nothing that breaks or reorders a line, and
    // every other character kept.
    const std::u16string shown = checks::ShownText(text);
    FUZZ_CHECK(shown.size() == text.size());
    FUZZ_CHECK(!HasUnpairedSurrogate(shown));
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const char16_t c = shown[i];
        const bool harmful = (c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F) || c == 0x2028 ||
                             c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
                             (c >= 0x2066 && c <= 0x2069);
        FUZZ_CHECK_MSG(!harmful, fuzz::Printable(shown));
        FUZZ_CHECK(c == text[i] || c == 0xFFFD);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    CheckText(text);
    return 0;
}
