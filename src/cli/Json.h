// A small JSON writer, by hand: strings escaped as RFC 8259 asks (quote,
// backslash and control characters; CR LF stay two escapes), everything else
// written as UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cli::json {

// A JSON string from UTF-16 text; unpaired surrogates become U+FFFD.
std::string String(std::u16string_view text);
// A JSON string from UTF-8 text; malformed sequences become U+FFFD.
std::string String(std::string_view utf8);
inline std::string String(const char* utf8) {
    return String(std::string_view(utf8));
}

std::string Integer(std::int64_t value);
std::string Boolean(bool value);
inline constexpr std::string_view kNull = "null";

// {"key":value,...}, values given as JSON text.
class Object {
public:
    Object& Add(std::string_view key, std::string_view value);
    // The field only when value is set.
    Object& AddIf(std::string_view key, const std::optional<std::string>& value);
    std::string Close() const { return text_ + "}"; }

private:
    std::string text_ = "{";
};

// [value,...], values given as JSON text.
class Array {
public:
    Array& Add(std::string_view value);
    std::string Close() const { return text_ + "]"; }

private:
    std::string text_ = "[";
};

}  // namespace cli::json
