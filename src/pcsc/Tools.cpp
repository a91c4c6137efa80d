#include "pcsc/Tools.h"

namespace pcsc {

std::u16string BytesToHexString(const Bytes& bytes) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string text;
    if (bytes.empty()) return text;
    text.reserve(bytes.size() * 3 - 1);
    for (std::uint8_t b : bytes) {
        if (!text.empty()) text.push_back(u' ');
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

std::uint8_t HexDigitValue(char16_t c) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c >= u'0' && c <= u'9') return static_cast<std::uint8_t>(c - u'0');
    if (c >= u'A' && c <= u'F') return static_cast<std::uint8_t>(c - u'A' + 10);
    return 0xFF;
}

Bytes HexStringToBytes(std::u16string_view text) {
    std::u16string digits;
    digits.reserve(text.size());
    for (char16_t c : text) {
        if (HexDigitValue(c) != 0xFF) digits.push_back(c);
    }
    if (digits.size() % 2 != 0) digits.insert(digits.begin(), u'0');
    Bytes bytes(digits.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(HexDigitValue(digits[2 * i]) * 16 +
                                             HexDigitValue(digits[2 * i + 1]));
    }
    return bytes;
}

}  // namespace pcsc
