#include "cli/Output.h"

namespace cli {

void FileOutput::Write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

void StringOutput::Write(std::string_view text) {
    std::lock_guard lock(mutex_);
    text_.append(text);
}

std::string StringOutput::Text() const {
    std::lock_guard lock(mutex_);
    return text_;
}

}  // namespace cli
