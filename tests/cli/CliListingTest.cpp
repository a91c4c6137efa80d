// A service that answers but whose reader list cannot be read is not a
// service without readers: the terminal program says why (text and JSON
// codes) and exits 2, for the service check and the direct check alike,
// while "no reader" stays "found nothing". Over the fake smart-card library,
// on Linux and, through Wine, on Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FakePcscClient.h"
#include "MiniJson.h"
#include "TextReport.h"
#include "cli/Cli.h"
#include "pcsc/PCSCDef.h"

using namespace cli;

namespace {

long Code(std::uint32_t code) {
    return static_cast<long>(static_cast<std::int32_t>(code));
}

struct Printed {
    int status = -1;
    std::string out;
};

Printed RunWith(std::vector<std::string_view> arguments) {
    StringOutput out;
    StringOutput err;
    StopRequest stop;
    Environment environment{out, err, stop, false, checks::RunPlatformSerialCheck};
    const int status = RunCli(ParseArguments(arguments), environment);
    return {status, out.Text()};
}

const std::string kHeadings = "== Lecteurs PC/SC ==\nConnecté au service\nListe des lecteurs :\n";
const std::string kParsing = "Erreur durant le parsing des lecteurs\n";

struct Listing {
    const char* what;
    std::function<void(fake::Library&)> serve;
    std::string serviceEnding;             // what the text adds after the headings
    std::optional<std::int32_t> listCode;  // the JSON's list code, when the same on every platform
    bool malformed;
    int serviceStatus;
    int directStatus;
};

}  // namespace

TEST(ListingOverFake, AListThatCannotBeReadIsReportedAndExits2WhileNoReaderStaysNothingFound) {
    const std::vector<Listing> listings{
        {"no reader", [](fake::Library&) {}, "", -2146435026, false, kExitNothingFound,
         kExitNothingFound},
        {"a listing that fails",
         [](fake::Library& lib) {
             lib.AddReader("Lecteur A");
             lib.ForceResult("SCardListReaders", Code(0x80100013), -1);
         },
         "Erreur lors du listage des lecteurs\n"
         "Erreur (-2146435053) : An internal communications error has been detected.\n",
         -2146435053, false, kExitUnreachable, kExitUnreachable},
        {"a list without its final NULs",
         [](fake::Library& lib) { lib.SetRawReaderList(std::string("Lecteur A\0Lecteur B", 19)); },
         kParsing, 0, true, kExitUnreachable, kExitReaderFound},
        {"a list longer than its buffer",
         [](fake::Library& lib) {
             lib.AddReader("Lecteur A");
             lib.OverstateLength("SCardListReaders", 100000, -1);
         },
         kParsing, std::nullopt, true, kExitUnreachable, kExitReaderFound},
        {"a list that keeps growing",
         [](fake::Library& lib) {
             lib.AddReader("Lecteur A");
             lib.ForceResult("SCardListReaders+buffer", Code(0x80100008), -1);
         },
         kParsing, -2146435064, true, kExitUnreachable, kExitUnreachable},
    };
    for (const Listing& listing : listings) {
        SCOPED_TRACE(listing.what);
        fake::Library lib(FAKE_PCSC_PATH);
        listing.serve(lib);

        const Printed text = RunWith({"--check", "pcsc"});
        EXPECT_EQ(cli_test::ReportPart(text.out), kHeadings + listing.serviceEnding);
        EXPECT_EQ(text.status, listing.serviceStatus);

        const Printed json = RunWith({"--check", "pcsc", "--json"});
        EXPECT_EQ(json.status, listing.serviceStatus);
        const minijson::Value check = minijson::Parse(json.out)["checks"][0];
        EXPECT_TRUE(check["serviceReached"].boolean);
        EXPECT_EQ(check["readers"].size(), 0u);
        EXPECT_EQ(check["codes"]["establish"].number, 0);
        ASSERT_TRUE(check["codes"].Has("list"));
        if (listing.listCode) {
            EXPECT_EQ(check["codes"]["list"].number, *listing.listCode);
        }
        EXPECT_EQ(check.Has("listMalformed"), listing.malformed);

        EXPECT_EQ(RunWith({"--check", "direct"}).status, listing.directStatus);
        // A reader found by one check is found, whatever the other says.
        if (listing.directStatus == kExitReaderFound) {
            EXPECT_EQ(RunWith({"--check", "pcsc,direct"}).status, kExitReaderFound);
        }
    }
}
