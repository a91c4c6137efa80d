// Where the CLI writes: every call hands over whole lines, which reach the
// reader at once (flushed), also through a pipe.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace cli {

class Output {
public:
    virtual ~Output() = default;
    // UTF-8 text made of whole lines; written and flushed before returning.
    virtual void Write(std::string_view text) = 0;
};

class FileOutput : public Output {
public:
    explicit FileOutput(std::FILE* file) : file_(file) {}
    void Write(std::string_view text) override;

private:
    std::FILE* file_;
};

// Keeps what was written, for tests; safe to read from another thread.
class StringOutput : public Output {
public:
    void Write(std::string_view text) override;
    std::string Text() const;

private:
    mutable std::mutex mutex_;
    std::string text_;
};

}  // namespace cli
