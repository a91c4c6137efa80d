// Text conversions the whole tool shares: UTF-16 and UTF-8, the smart-card
// library's 8-bit texts, and the lossless codec of pcsc-lite's reader names.
// Written out by hand (platform/Text.cpp): <codecvt> is deprecated, and a
// reader's name must never be silently cut or dropped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pcsc {

// The halves of a UTF-16 surrogate pair. A half that stands alone is no
// character: the name codec uses U+DC80 to U+DCFF for bytes, and a report
// shows any lone half as U+FFFD.
constexpr bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// UTF-16 <-> UTF-8. Ill-formed input is never dropped silently: an unpaired
// surrogate or an invalid byte becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// Text from the smart-card library's 8-bit entry points: the ANSI code page
// on Windows, UTF-8 on pcsc-lite.
std::u16string AnsiToUtf16(std::string_view text);

// pcsc-lite hands reader names over as bytes, exactly as a driver or a
// reader.conf wrote them, and only those bytes name the reader in later
// calls. Its wrappers therefore turn names into UTF-16 and back losslessly:
// UTF-8 sequences become their characters, and every byte that is not part
// of one becomes U+DC80 to U+DCFF (an unpaired low surrogate, which no UTF-8
// text can give), so that NameToBytes(NameFromBytes(b)) == b for any bytes.
// Windows gives names as UTF-16: nothing there is ever such a byte.
#if defined(_WIN32)
inline constexpr bool kNamesAreBytes = false;
#else
inline constexpr bool kNamesAreBytes = true;
#endif
std::u16string NameFromBytes(std::string_view bytes);
// UTF-8, but U+DC80 to U+DCFF standing alone go back to the byte they hold;
// any other unpaired surrogate becomes U+FFFD.
std::string NameToBytes(std::u16string_view name);
// True when the name holds a byte that was not UTF-8 (U+DC80 to U+DCFF
// standing alone).
bool HasUndecodedBytes(std::u16string_view name);
// The bytes the 8-bit listing gives for a reader that the service's listing
// names `name`: on pcsc-lite the name's own bytes; on Windows its form in the
// ANSI code page, nullopt when it has none (a character outside the code
// page reaches the 8-bit listing as some other one).
std::optional<std::string> NameToAnsiBytes(std::u16string_view name);

}  // namespace pcsc
