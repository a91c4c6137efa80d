// Hexadecimal conversions, the reader multi-string split and UTF-8/UTF-16.
#include <gtest/gtest.h>

#include "pcsc/PCSC.h"
#include "pcsc/TextConversions.h"

using namespace pcsc;

namespace {

StringList Split(const std::u16string& buffer, std::int32_t size, bool* ok = nullptr) {
    StringList list{u"left over"};
    const bool result = ReaderMultiStringToList(buffer.data(), size, &list);
    if (ok) *ok = result;
    return list;
}

}  // namespace

TEST(ReaderMultiString, SplitsNamesInBufferOrder) {
    bool ok = false;
    EXPECT_EQ(Split(std::u16string(u"A\0B\0\0", 5), 5, &ok), (StringList{u"A", u"B"}));
    EXPECT_TRUE(ok);
    // An empty entry in the middle does not stop the walk: the size bounds it.
    EXPECT_EQ(Split(std::u16string(u"A\0\0B\0\0", 6), 6, &ok), (StringList{u"A", u"B"}));
    EXPECT_TRUE(ok);
    // Names are kept as they stand: blanks, duplicates, letter case.
    EXPECT_EQ(Split(std::u16string(u" r \0r\0R\0r\0\0", 11), 11, &ok),
              (StringList{u" r ", u"r", u"R", u"r"}));
    EXPECT_TRUE(ok);
}

TEST(ReaderMultiString, EmptyAndDegenerateBuffers) {
    bool ok = false;
    EXPECT_TRUE(Split(std::u16string(u"\0\0", 2), 2, &ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_TRUE(Split(std::u16string(u"\0", 1), 1, &ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_TRUE(Split(u"A", 1, &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(Split(u"", 0, &ok).empty());
    EXPECT_TRUE(ok);

    StringList list{u"old"};
    EXPECT_TRUE(ReaderMultiStringToList(nullptr, 12, &list));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(ReaderMultiStringToList(u"A\0\0", 3, nullptr));
}

TEST(ReaderMultiString, RejectsBuffersWithoutTwoFinalNuls) {
    bool ok = true;
    EXPECT_TRUE(Split(std::u16string(u"A\0B", 3), 3, &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(Split(std::u16string(u"A\0", 2), 2, &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(Split(std::u16string(u"AB\0C\0", 5), 4, &ok).empty()) << "size cuts the final NULs";
    EXPECT_FALSE(ok);
    EXPECT_TRUE(Split(std::u16string(u"A\0\0", 3), -1, &ok).empty());
    EXPECT_FALSE(ok);
}

TEST(HexConversions, BytesToTextUpperCaseSingleBlanks) {
    EXPECT_EQ(BytesToHexString({0x3B, 0x6F, 0x00}), u"3B 6F 00");
    EXPECT_EQ(BytesToHexString({0xFF, 0x00}), u"FF 00");
    EXPECT_EQ(BytesToHexString({0x0A}), u"0A");
    EXPECT_EQ(BytesToHexString({}), u"");
    EXPECT_EQ(BytesToHexString({0xab, 0xcd, 0xef}), u"AB CD EF");
}

TEST(HexConversions, TextToBytesKeepsOnlyDigits) {
    const Bytes atr{0x3B, 0x6F, 0x00};
    EXPECT_EQ(HexStringToBytes(u"3B 6F 00"), atr);
    EXPECT_EQ(HexStringToBytes(u"3b6f00"), atr);
    EXPECT_EQ(HexStringToBytes(u"3B:6F-00"), atr);
    EXPECT_EQ(HexStringToBytes(u"ABC"), (Bytes{0x0A, 0xBC})) << "the added 0 goes in front";
    EXPECT_EQ(HexStringToBytes(u"0x1F"), (Bytes{0x00, 0x1F}));
    EXPECT_TRUE(HexStringToBytes(u"").empty());
    EXPECT_TRUE(HexStringToBytes(u"GHIJ").empty());
    // Characters beyond Latin-1 are never digits, even fullwidth ones.
    EXPECT_EQ(HexStringToBytes(u"\uFF11A\u00E9B"), (Bytes{0xAB}));
}

TEST(HexConversions, DigitValues) {
    EXPECT_EQ(HexDigitValue(u'f'), 15);
    EXPECT_EQ(HexDigitValue(u'F'), 15);
    EXPECT_EQ(HexDigitValue(u'0'), 0);
    EXPECT_EQ(HexDigitValue(u'9'), 9);
    EXPECT_EQ(HexDigitValue(u'G'), 255);
    EXPECT_EQ(HexDigitValue(u' '), 255);
    EXPECT_EQ(HexDigitValue(u'g'), 255);
}

TEST(HexConversions, RoundTripEveryByte) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(HexStringToBytes(BytesToHexString(all)), all);
}

TEST(TextConversions, Utf8AndUtf16RoundTrip) {
    const std::u16string names[] = {u"Lab Reader 0 00 00", u"Lecteur carte Vitale é ü",
                                    u"中文读卡器", u"reader \U0001F4B3"};
    for (const auto& name : names) {
        EXPECT_EQ(pcsc::Utf8ToUtf16(pcsc::Utf16ToUtf8(name)), name);
    }
    EXPECT_EQ(pcsc::Utf16ToUtf8(u"é"), "\xC3\xA9");
    EXPECT_EQ(pcsc::Utf16ToUtf8(u"\U0001F4B3"), "\xF0\x9F\x92\xB3");
    // NULs inside a multi-string survive both ways.
    EXPECT_EQ(pcsc::Utf8ToUtf16(std::string("A\0B\0\0", 5)), std::u16string(u"A\0B\0\0", 5));
}

TEST(TextConversions, IllFormedInputBecomesReplacementCharacters) {
    EXPECT_EQ(pcsc::Utf8ToUtf16("a\xFF"
                                "b"),
              u"a\uFFFDb");
    EXPECT_EQ(pcsc::Utf8ToUtf16("\xC3"), u"\uFFFD") << "truncated sequence";
    EXPECT_EQ(pcsc::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD") << "overlong form";
    EXPECT_EQ(pcsc::Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD") << "encoded surrogate";
    EXPECT_EQ(pcsc::Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(pcsc::Utf16ToUtf8(std::u16string{char16_t(0xDC00), u'x'}), "\xEF\xBF\xBDx");
}

TEST(NameCodec, BytesThatAreNotUtf8SurviveTheRoundTripAndNothingElseChanges) {
    struct Name {
        std::string bytes;
        std::u16string name;
    };
    const Name names[] = {
        {"Lab Reader 0 00 00", u"Lab Reader 0 00 00"},
        {"Lecteur \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x92\xB3",
         u"Lecteur é € \U0001F4B3"},          // UTF-8 reads as before
        {"Lecteur \xE9", u"Lecteur \xDCE9"},  // Latin-1
        {"\xE2\x82", u"\xDCE2\xDC82"},        // a sequence cut short: each byte kept
        {"\xE2\x82"
         "A",
         u"\xDCE2\xDC82"
         u"A"},                                   // and the next character read
        {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},  // an encoded surrogate
        {std::string("A\0\xE9\0\0", 5), std::u16string(u"A\0\xDCE9\0\0", 5)},  // a multi-string
    };
    for (const Name& n : names) {
        SCOPED_TRACE(n.bytes);
        EXPECT_EQ(pcsc::NameFromBytes(n.bytes), n.name);
        EXPECT_EQ(pcsc::NameToBytes(n.name), n.bytes);
        EXPECT_EQ(pcsc::HasUndecodedBytes(n.name),
                  pcsc::Utf8ToUtf16(n.bytes).find(u'\uFFFD') != std::u16string::npos);
    }
    // Surrogates that no byte gave are not bytes.
    EXPECT_EQ(pcsc::NameToBytes(std::u16string{char16_t(0xD800), u'x', char16_t(0xDC7F)}),
              "\xEF\xBF\xBDx\xEF\xBF\xBD");
    EXPECT_FALSE(pcsc::HasUndecodedBytes(u"\U0001F4B3"));
}
