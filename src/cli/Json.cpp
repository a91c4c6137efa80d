#include "cli/Json.h"

#include "pcsc/TextConversions.h"

namespace cli::json {

namespace {

std::string Escape(std::string_view utf8) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace

std::string String(std::u16string_view text) {
    return Escape(pcsc::Utf16ToUtf8(text));
}

// Through UTF-16 and back, so that a malformed sequence (a file name is only
// bytes) comes out as U+FFFD and the document stays valid UTF-8.
std::string String(std::string_view utf8) {
    return String(pcsc::Utf8ToUtf16(utf8));
}

std::string Integer(std::int64_t value) {
    return std::to_string(value);
}

std::string Boolean(bool value) {
    return value ? "true" : "false";
}

Object& Object::Add(std::string_view key, std::string_view value) {
    if (text_.size() > 1) text_ += ',';
    text_ += String(key);
    text_ += ':';
    text_ += value;
    return *this;
}

Object& Object::AddIf(std::string_view key, const std::optional<std::string>& value) {
    if (value) Add(key, *value);
    return *this;
}

Array& Array::Add(std::string_view value) {
    if (text_.size() > 1) text_ += ',';
    text_ += value;
    return *this;
}

}  // namespace cli::json
