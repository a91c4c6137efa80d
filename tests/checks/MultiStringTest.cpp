// Splitting the 8-bit reader multi-string of the direct check.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "checks/safeModule.h"

using checks::AnsiMultiStringToList;
using checks::MultiStringToComboBox;
using pcsc::StringList;

namespace {

std::span<const char> Bytes(std::string_view bytes) {
    return {bytes.data(), bytes.size()};
}

}  // namespace

TEST(AnsiMultiStringToList, AddsNamesInOrderAfterWhatTheListHeld) {
    using namespace std::string_view_literals;
    StringList list{u"déjà là"};
    EXPECT_TRUE(AnsiMultiStringToList(list, Bytes("Lecteur A\0Lecteur B\0Lecteur A\0\0"sv)));
    EXPECT_EQ(list, (StringList{u"déjà là", u"Lecteur A", u"Lecteur B", u"Lecteur A"}));

    // The empty name ends the list: what follows it is not read as names.
    StringList stopped;
    EXPECT_TRUE(AnsiMultiStringToList(stopped, Bytes("A\0\0B\0\0"sv)));
    EXPECT_EQ(stopped, StringList{u"A"});

    StringList none;
    EXPECT_TRUE(AnsiMultiStringToList(none, Bytes("\0Ghost\0\0"sv)));
    EXPECT_TRUE(none.empty());
}

TEST(AnsiMultiStringToList, NeverReadsPastTheBuffer) {
    using namespace std::string_view_literals;
    // The bytes after the span are there in memory; a split that relied on
    // the final empty name would take them as names.
    const std::string_view memory = "A\0BCDEF\0\0"sv;

    StringList cut;
    EXPECT_FALSE(AnsiMultiStringToList(cut, Bytes(memory.substr(0, 4))));
    EXPECT_EQ(cut, StringList{u"A"}) << "an unfinished name is dropped";

    StringList noEmptyName;
    EXPECT_FALSE(AnsiMultiStringToList(noEmptyName, Bytes(memory.substr(0, 8))));
    EXPECT_EQ(noEmptyName, (StringList{u"A", u"BCDEF"})) << "finished names are kept";

    StringList empty;
    EXPECT_FALSE(AnsiMultiStringToList(empty, Bytes(memory.substr(0, 0))));
    EXPECT_TRUE(empty.empty());
}

#if !defined(_WIN32)
TEST(AnsiMultiStringToList, PcscLiteNamesAreUtf8) {
    using namespace std::string_view_literals;
    StringList list;
    // é and € in UTF-8, then a byte that is not UTF-8 at all.
    EXPECT_TRUE(AnsiMultiStringToList(list, Bytes("Lecteur \xC3\xA9\xE2\x82\xAC\0Bad \xE9\0\0"sv)));
    EXPECT_EQ(list, (StringList{u"Lecteur é€", u"Bad \uFFFD"}));
}
#endif

TEST(MultiStringToComboBox, ReplacesTheItems) {
    using namespace std::string_view_literals;
    StringList items{u"ancien 1", u"ancien 2", u"ancien 3"};
    EXPECT_TRUE(MultiStringToComboBox(items, Bytes("A\0B\0\0"sv)));
    EXPECT_EQ(items, (StringList{u"A", u"B"}));

    EXPECT_FALSE(MultiStringToComboBox(items, Bytes("C\0D"sv)));
    EXPECT_EQ(items, StringList{u"C"});
}
