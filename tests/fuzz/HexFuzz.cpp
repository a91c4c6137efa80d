// The hexadecimal conversions: bytes to text and back give the same bytes,
// and any text gives at most one byte per two characters (rounded up).
//
// Input: used three ways at once — as the bytes to convert, as UTF-16
// little-endian text and as 8-bit text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "pcsc/Tools.h"

namespace {

bool IsUpperHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

int PlainDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// Every hexadecimal digit, in order, the others dropped; an odd count is
// read as if a "0" stood in front.
pcsc::Bytes PlainHexToBytes(const std::u16string& text) {
    std::u16string digits;
    for (char16_t c : text)
        if (PlainDigitValue(c) >= 0) digits += c;
    if (digits.size() % 2) digits.insert(digits.begin(), u'0');
    pcsc::Bytes bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(PlainDigitValue(digits[i]) * 16 +
                                                  PlainDigitValue(digits[i + 1])));
    return bytes;
}

void CheckArbitraryText(const std::u16string& text) {
    const pcsc::Bytes bytes = pcsc::HexStringToBytes(text);
    FUZZ_CHECK(bytes.size() <= (text.size() + 1) / 2);
    FUZZ_CHECK(bytes == PlainHexToBytes(text));
    for (char16_t c : text) {
        const int plain = PlainDigitValue(c);
        FUZZ_CHECK(pcsc::HexDigitValue(c) == (plain < 0 ? 0xFF : plain));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Round trip.
    const pcsc::Bytes bytes(data, data + size);
    const std::u16string text = pcsc::BytesToHexString(bytes);
    FUZZ_CHECK(text.size() == (bytes.empty() ? 0 : bytes.size() * 3 - 1));
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i % 3 == 2)
            FUZZ_CHECK(text[i] == u' ');
        else
            FUZZ_CHECK(IsUpperHexDigit(text[i]));
    }
    FUZZ_CHECK_MSG(pcsc::HexStringToBytes(text) == bytes, fuzz::Printable(text));

    // The same text in lower case, and with other separators, reads the same.
    std::u16string lower = text;
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'F') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c == u' ') c = u':';
    }
    FUZZ_CHECK(pcsc::HexStringToBytes(lower) == bytes);

    // Arbitrary text.
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        wide += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    CheckArbitraryText(wide);
    CheckArbitraryText(std::u16string(data, data + size));
    return 0;
}
