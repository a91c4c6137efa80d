// The command line: what is selected, what is refused, and how status codes
// are read for --explain.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "cli/Options.h"

using namespace cli;

namespace {

Options Parse(std::vector<std::string_view> arguments) {
    return ParseArguments(arguments);
}

}  // namespace

TEST(CliArguments, NoArgumentRunsTheThreeChecksInTabOrderAsText) {
    const Options o = Parse({});
    EXPECT_EQ(o.checks, (std::vector<CheckId>{CheckId::Service, CheckId::Serial, CheckId::Direct}));
    EXPECT_FALSE(o.json || o.watch || o.details || o.help || o.version || o.explain.has_value());
    EXPECT_EQ(o.color, ColorMode::Auto);
    EXPECT_EQ(o.timeout, std::chrono::milliseconds(10000));
}

TEST(CliArguments, ChecksAreSelectedRepeatedOrAsAListAndRunInTabOrderOnce) {
    EXPECT_EQ(Parse({"--check", "direct", "--check", "pcsc"}).checks,
              (std::vector<CheckId>{CheckId::Service, CheckId::Direct}));
    EXPECT_EQ(Parse({"--check=com,direct,com"}).checks,
              (std::vector<CheckId>{CheckId::Serial, CheckId::Direct}));
    EXPECT_EQ(Parse({"--check", "com"}).checks, (std::vector<CheckId>{CheckId::Serial}));
}

TEST(CliArguments, OptionsAndTheirValues) {
    const Options o =
        Parse({"--json", "--watch", "--details", "--color=never", "--timeout", "2.5"});
    EXPECT_TRUE(o.json && o.watch && o.details);
    EXPECT_EQ(o.color, ColorMode::Never);
    EXPECT_EQ(o.timeout, std::chrono::milliseconds(2500));
    EXPECT_EQ(o.timeoutText, "2.5");
    EXPECT_EQ(Parse({"--color", "always"}).color, ColorMode::Always);
    EXPECT_EQ(Parse({"--timeout=1"}).timeout, std::chrono::milliseconds(1000));
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_TRUE(Parse({"-h"}).help);
    EXPECT_TRUE(Parse({"--version"}).version);
    EXPECT_EQ(Parse({"--explain", "-2146435043"}).explain, 0x8010001Du);
    EXPECT_EQ(Parse({"--explain=0x8010001D", "--color=never"}).explain, 0x8010001Du);
}

TEST(CliArguments, WhatCannotBeUnderstoodIsAUsageError) {
    for (const std::vector<std::string_view>& bad : std::vector<std::vector<std::string_view>>{
             {"--bogus"},
             {"-x"},
             {"pcsc"},
             {"--check"},
             {"--check", "usb"},
             {"--check", ""},
             {"--check=pcsc,"},
             {"--color=sometimes"},
             {"--timeout", "0"},
             {"--timeout", "-1"},
             {"--timeout", "abc"},
             {"--timeout", "10s"},
             {"--timeout", "nan"},
             {"--timeout", "1e9"},
             {"--json=yes"},
             {"--explain"},
             {"--explain", "zz"},
             {"--explain", "0x8010001D", "--watch"},
             {"--explain", "1", "--check", "pcsc"},
         }) {
        EXPECT_THROW(ParseArguments(bad), UsageError)
            << bad.front() << (bad.size() > 1 ? bad[1] : "");
    }
}

TEST(CliArguments, StatusCodesInHexadecimalOrDecimalSignedOrNot) {
    EXPECT_EQ(ParseStatusCode("0x8010001D"), 0x8010001Du);
    EXPECT_EQ(ParseStatusCode("0X8010001d"), 0x8010001Du);
    EXPECT_EQ(ParseStatusCode("-2146435043"), 0x8010001Du);
    EXPECT_EQ(ParseStatusCode("2148532253"), 0x8010001Du);
    EXPECT_EQ(ParseStatusCode("0"), 0u);
    EXPECT_EQ(ParseStatusCode("+16"), 16u);
    EXPECT_EQ(ParseStatusCode("0xFFFFFFFF"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseStatusCode("4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseStatusCode("-2147483648"), 0x80000000u);
    EXPECT_EQ(ParseStatusCode("-1"), 0xFFFFFFFFu);

    for (std::string_view bad :
         {"", "-", "0x", "4294967296", "0x100000000", "-2147483649", "12a", "--5", " 5", "5 ",
          "0x-5", "+-5", "1.5", "x10", "99999999999999999999999"}) {
        EXPECT_FALSE(ParseStatusCode(bad).has_value()) << "\"" << bad << "\"";
    }
}
