// The service's UTF-16 reader multi-string, split into names.
//
// Input: one byte of flags, one byte for the size, then the buffer as UTF-16
// little-endian characters.
//   flags bit 0: no list; bit 1: no buffer;
//   bits 2-3: 0 and 3 the size is the number of characters, 1 a smaller
//   size (the buffer then holds only that many), 2 a negative size.
// The buffer is copied into an allocation of exactly Size characters, so
// AddressSanitizer reports any read past what the caller said it holds.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "pcsc/PCSCRaw.h"

namespace {

struct Expected {
    bool result = false;
    pcsc::StringList names;
};

// The splitting rule, written out plainly.
Expected Model(const char16_t* buffer, std::int32_t size, bool hasList) {
    Expected e;
    if (!hasList || size < 0) return e;
    if (!buffer || size == 0) {
        e.result = true;
        return e;
    }
    if (size == 1) {
        e.result = buffer[0] == u'\0';
        return e;
    }
    if (buffer[size - 1] != u'\0' || buffer[size - 2] != u'\0') return e;
    e.result = true;
    std::u16string current;
    for (std::int32_t i = 0; i < size; ++i) {
        if (buffer[i] == u'\0') {
            if (!current.empty()) e.names.push_back(current);
            current.clear();
        } else {
            current += buffer[i];
        }
    }
    return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteReader in(data, size);
    const std::uint8_t flags = in.Byte();
    const std::uint8_t sizeByte = in.Byte();
    const bool noList = (flags & 1) != 0;
    const bool noBuffer = (flags & 2) != 0;
    const int sizeMode = (flags >> 2) & 3;

    const std::size_t available = in.Remaining() / 2;
    std::int32_t count = static_cast<std::int32_t>(available);
    if (sizeMode == 1) count -= static_cast<std::int32_t>(sizeByte % (available + 1));
    if (sizeMode == 2) count = -1 - static_cast<std::int32_t>(sizeByte);

    // Exactly as many characters as the size announces, not one more.
    const std::size_t allocated = count > 0 ? static_cast<std::size_t>(count) : 0;
    std::unique_ptr<char16_t[]> storage(new char16_t[allocated]);
    for (std::size_t i = 0; i < allocated; ++i) {
        const std::uint8_t low = in.Byte();
        storage[i] = static_cast<char16_t>(low | (in.Byte() << 8));
    }
    const char16_t* buffer = noBuffer ? nullptr : storage.get();

    // A list that held names before: every call with a list must clear it.
    pcsc::StringList list{u"left over", u""};
    const bool result = pcsc::ReaderMultiStringToList(buffer, count, noList ? nullptr : &list);

    if (noList) {
        FUZZ_CHECK(!result);
        FUZZ_CHECK((list == pcsc::StringList{u"left over", u""}));  // untouched
        return 0;
    }
    // The invariants any caller relies on.
    if (!result) FUZZ_CHECK(list.empty());
    if (result) {
        std::size_t used = 0;
        for (const std::u16string& name : list) {
            FUZZ_CHECK(!name.empty());
            FUZZ_CHECK(name.find(u'\0') == std::u16string::npos);
            used += name.size() + 1;  // the name and the NUL that ends it
        }
        if (!list.empty()) {
            FUZZ_CHECK(count >= 0);
            FUZZ_CHECK_MSG(used + 1 <= static_cast<std::size_t>(count),
                           "names take " + std::to_string(used + 1) + " characters of " +
                               std::to_string(count));
        }
    }
    // And the exact answer.
    const Expected expected = Model(buffer, count, true);
    FUZZ_CHECK(result == expected.result);
    FUZZ_CHECK(list == expected.names);
    return 0;
}
