// A small, strict JSON reader for the tests: it reads back what the CLI
// writes and refuses anything RFC 8259 does not allow (raw control
// characters in strings, trailing text, bad escapes...).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace minijson {

struct Value {
    enum class Type { Null, Boolean, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;  // UTF-8
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;  // in document order

    bool IsNull() const { return type == Type::Null; }
    bool Has(const std::string& key) const {
        for (const auto& [name, value] : members) {
            if (name == key) return true;
        }
        return false;
    }
    const Value& operator[](const std::string& key) const {
        for (const auto& [name, value] : members) {
            if (name == key) return value;
        }
        throw std::out_of_range("no member \"" + key + "\"");
    }
    const Value& operator[](std::size_t index) const { return items.at(index); }
    std::size_t size() const { return type == Type::Array ? items.size() : members.size(); }
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const auto& member : members) keys.push_back(member.first);
        return keys;
    }
};

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    Value Document() {
        Value value = Parse();
        Space();
        if (at_ != text_.size()) Fail("text after the value");
        return value;
    }

private:
    [[noreturn]] void Fail(const std::string& why) const {
        throw std::runtime_error("JSON: " + why + " at offset " + std::to_string(at_));
    }
    void Space() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }
    char Next() {
        if (at_ >= text_.size()) Fail("unexpected end");
        return text_[at_++];
    }
    void Expect(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) Fail("expected " + std::string(word));
        at_ += word.size();
    }

    Value Parse() {
        Space();
        if (at_ >= text_.size()) Fail("unexpected end");
        Value value;
        const char c = text_[at_];
        if (c == '{') {
            value.type = Value::Type::Object;
            ++at_;
            Space();
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return value;
            }
            for (;;) {
                Space();
                if (Next() != '"') Fail("expected a key");
                std::string key = StringBody();
                Space();
                if (Next() != ':') Fail("expected ':'");
                value.members.emplace_back(std::move(key), Parse());
                Space();
                const char end = Next();
                if (end == '}') return value;
                if (end != ',') Fail("expected ',' or '}'");
            }
        }
        if (c == '[') {
            value.type = Value::Type::Array;
            ++at_;
            Space();
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return value;
            }
            for (;;) {
                value.items.push_back(Parse());
                Space();
                const char end = Next();
                if (end == ']') return value;
                if (end != ',') Fail("expected ',' or ']'");
            }
        }
        if (c == '"') {
            ++at_;
            value.type = Value::Type::String;
            value.string = StringBody();
            return value;
        }
        if (c == 't') {
            Expect("true");
            value.type = Value::Type::Boolean;
            value.boolean = true;
            return value;
        }
        if (c == 'f') {
            Expect("false");
            value.type = Value::Type::Boolean;
            return value;
        }
        if (c == 'n') {
            Expect("null");
            return value;
        }
        return Number();
    }

    Value Number() {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        const auto digits = [this] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            return at_ - from;
        };
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else if (digits() == 0) {
            Fail("bad number");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (digits() == 0) Fail("bad fraction");
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (digits() == 0) Fail("bad exponent");
        }
        Value value;
        value.type = Value::Type::Number;
        value.number = std::strtod(std::string(text_.substr(start, at_ - start)).c_str(), nullptr);
        return value;
    }

    unsigned Hex4() {
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = Next();
            code <<= 4;
            if (h >= '0' && h <= '9')
                code |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f')
                code |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                code |= static_cast<unsigned>(h - 'A' + 10);
            else
                Fail("bad \\u escape");
        }
        return code;
    }

    static void Utf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // After the opening quote, up to and including the closing one.
    std::string StringBody() {
        std::string out;
        for (;;) {
            const char c = Next();
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) Fail("raw control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            const char e = Next();
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    std::uint32_t cp = Hex4();
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        Expect("\\u");
                        const std::uint32_t low = Hex4();
                        if (low < 0xDC00 || low > 0xDFFF) Fail("unpaired surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        Fail("unpaired surrogate");
                    }
                    Utf8(out, cp);
                    break;
                }
                default: Fail("bad escape");
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// True when text is well-formed UTF-8 (no overlong form, no surrogate).
inline bool ValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        int extra;
        std::uint32_t cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(extra) >= text.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

inline Value Parse(std::string_view text) {
    if (!ValidUtf8(text)) throw std::runtime_error("JSON: not UTF-8");
    return Parser(text).Document();
}

// Each line of text as one document (the --watch --json stream).
inline std::vector<Value> ParseLines(std::string_view text) {
    std::vector<Value> values;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            throw std::runtime_error("JSON: last line without line end");
        values.push_back(Parse(text.substr(0, end)));
        text.remove_prefix(end + 1);
    }
    return values;
}

}  // namespace minijson
