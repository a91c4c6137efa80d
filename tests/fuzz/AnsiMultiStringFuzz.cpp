// The direct check's 8-bit reader multi-string on a bounded buffer.
//
// Input: the buffer itself, handed over in an allocation of exactly its size
// (AddressSanitizer reports any read past it); then the same bytes in the
// direct check's own zeroed buffer of kDirectReaderBufferSize characters.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "checks/safeModule.h"
#include "pcsc/TextConversions.h"

namespace {

struct Expected {
    bool complete = false;           // the empty name was found inside the buffer
    std::vector<std::string> names;  // the bytes of each complete name
};

Expected Model(std::span<const char> buffer) {
    Expected e;
    std::string current;
    for (char c : buffer) {
        if (c != '\0') {
            current += c;
        } else if (current.empty()) {
            e.complete = true;
            return e;
        } else {
            e.names.push_back(current);
            current.clear();
        }
    }
    return e;  // an unfinished name, if any, is not a name
}

void Check(std::span<const char> buffer) {
    const Expected expected = Model(buffer);

    pcsc::StringList list{u"already there"};
    const bool complete = checks::AnsiMultiStringToList(list, buffer);
    FUZZ_CHECK(complete == expected.complete);
    FUZZ_CHECK(!list.empty() && list.front() == u"already there");  // names are appended
    FUZZ_CHECK(list.size() == expected.names.size() + 1);
    std::size_t used = 0;
    for (std::size_t i = 0; i < expected.names.size(); ++i) {
        const std::u16string& name = list[i + 1];
        FUZZ_CHECK(!name.empty());
        FUZZ_CHECK(name.find(u'\0') == std::u16string::npos);
        FUZZ_CHECK(name == pcsc::AnsiToUtf16(expected.names[i]));
        used += expected.names[i].size() + 1;
    }
    FUZZ_CHECK(used + (complete ? 1 : 0) <= buffer.size());

    pcsc::StringList combo{u"old item", u"another"};
    FUZZ_CHECK(checks::MultiStringToComboBox(combo, buffer) == complete);
    FUZZ_CHECK(combo == pcsc::StringList(list.begin() + 1, list.end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<char[]> exact(new char[size]);
    if (size) std::memcpy(exact.get(), data, size);
    Check(std::span<const char>(exact.get(), size));

    // As the direct check calls it: a zeroed buffer of fixed size that the
    // library fills, possibly to the last byte.
    auto fixed = std::make_unique<std::array<char, checks::kDirectReaderBufferSize>>();
    fixed->fill('\0');
    std::memcpy(fixed->data(), data, std::min(size, fixed->size()));
    Check(std::span<const char>(*fixed));
    return 0;
}
