// What every fuzz target shares: reading the fuzzer's bytes as a stream of
// small decisions, and failing loudly when an invariant does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// An invariant failure aborts: libFuzzer then keeps the input as a crash and
// the run ends non-zero, exactly as for a sanitizer report.
[[noreturn]] inline void Fail(const char* condition, const char* file, int line,
                              const std::string& detail) {
    std::fprintf(stderr, "INVARIANT FAILED: %s\n  at %s:%d\n", condition, file, line);
    if (!detail.empty()) std::fprintf(stderr, "  %s\n", detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__, {}))
#define FUZZ_CHECK_MSG(condition, detail) \
    ((condition) ? static_cast<void>(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__, (detail)))

// Takes the fuzzer's bytes from the front, one decision at a time, so that a
// seed written by hand reads as the sequence of operations it stands for.
// Past the end every read gives zeros.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }
    std::size_t Remaining() const { return Empty() ? 0 : size_ - position_; }

    std::uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }
    // A value in [0, count) for count > 0.
    std::size_t Below(std::size_t count) { return Byte() % count; }
    bool Bit() { return (Byte() & 1) != 0; }

    // Up to max bytes, as many as the first byte says.
    std::string Text(std::size_t max) {
        const std::size_t length = Below(max + 1);
        std::string text;
        while (text.size() < length && !Empty()) text.push_back(static_cast<char>(Byte()));
        return text;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Printable form of a UTF-16 text for failure messages.
inline std::string Printable(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char code[12];
            std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(c));
            out += code;
        }
    }
    return out;
}

}  // namespace fuzz
