// The answer-to-reset decoder over answers cards really give, and over the
// ways a reader's bytes can fail to be one.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "pcsc/Atr.h"
#include "pcsc/Tools.h"

using namespace pcsc;

namespace {

struct Row {
    const char16_t* atr;
    AtrConvention convention;
    std::vector<std::uint8_t> protocols;
    std::optional<std::uint16_t> fi;
    std::optional<std::uint8_t> di;
    const char16_t* historical;
    bool tckRequired;
    AtrProblem problem;
};

}  // namespace

TEST(AtrDecoder, ConventionProtocolsFactorsHistoricalBytesAndValidity) {
    using enum AtrConvention;
    using enum AtrProblem;
    const std::vector<Row> rows{
        // vicc's default card: TA1 13, TD1 T=1, TD2 T=1 (listed once).
        {u"3B 95 13 81 01 80 73 FF 01 00 0B", Direct, {1}, 372, 4, u"80 73 FF 01 00", true, None},
        // T=0 without any TD byte: no check byte.
        {u"3B 02 14 50", Direct, {0}, {}, {}, u"14 50", false, None},
        // A Vitale card: TB1 and TC1, T=0.
        {u"3B 65 00 00 9C 11 01 01 03", Direct, {0}, {}, {}, u"9C 11 01 01 03", false, None},
        // A contactless storage card: T=0 then T=1, fifteen historical bytes.
        {u"3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A",
         Direct,
         {0, 1},
         {},
         {},
         u"80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00",
         true,
         None},
        // T=0 and T=15 (global bytes): the check byte is required.
        {u"3B 80 80 1F 07 18", Direct, {0}, {}, {}, u"", true, None},
        {u"3B 80 80 1F 07", Direct, {0}, {}, {}, u"", true, Truncated},
        // TA1 96: Fi 512, Di 32; reserved values give no factor.
        {u"3F 12 96 50 60", Inverse, {0}, 512, 32, u"50 60", false, None},
        {u"3B 10 7E", Direct, {0}, {}, {}, u"", false, None},
        // Bytes past the end, an unrequired check byte among them.
        {u"3B 02 14 50 45", Direct, {0}, {}, {}, u"14 50", false, ExtraBytes},
        {u"3B 95 13 81 01 80 73 FF 01 00 0B 00",
         Direct,
         {1},
         372,
         4,
         u"80 73 FF 01 00",
         true,
         ExtraBytes},
        // A wrong check byte, and a missing one.
        {u"3B 95 13 81 01 80 73 FF 01 00 0C",
         Direct,
         {1},
         372,
         4,
         u"80 73 FF 01 00",
         true,
         WrongTck},
        {u"3B 95 13 81 01 80 73 FF 01 00", Direct, {1}, 372, 4, u"80 73 FF 01 00", true, Truncated},
        // Cut inside the interface bytes, or inside the historical bytes.
        {u"3B 95 13", Direct, {}, 372, 4, u"", false, Truncated},
        {u"3B 02 14", Direct, {0}, {}, {}, u"14", false, Truncated},
        {u"3B", Direct, {}, {}, {}, u"", false, Truncated},
        // Not an answer-to-reset.
        {u"3A 02 14 50", Unknown, {}, {}, {}, u"", false, InvalidTs},
        {u"", Unknown, {}, {}, {}, u"", false, Empty},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.atr, row.atr + std::char_traits<char16_t>::length(row.atr)));
        const AtrInfo info = DecodeAtr(HexStringToBytes(row.atr));
        EXPECT_EQ(info.convention, row.convention);
        EXPECT_EQ(info.protocols, row.protocols);
        EXPECT_EQ(info.fi, row.fi);
        EXPECT_EQ(info.di, row.di);
        EXPECT_EQ(BytesToHexString(info.historical), row.historical);
        EXPECT_EQ(info.tckRequired, row.tckRequired);
        EXPECT_EQ(info.problem, row.problem);
        EXPECT_EQ(info.Valid(), row.problem == None);
    }
}
