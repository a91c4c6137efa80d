// The front end run in this process over the fake smart-card library, for
// what the lab's service cannot show: reader details that were read (vpcd
// has no vendor attribute), names the terminal and JSON must not be broken
// by, names that are not UTF-8, a serial-port value that stops its check,
// serial ports that cannot be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "FakePcscClient.h"
#include "MemoryRegistry.h"
#include "MiniJson.h"
#include "SysfsTree.h"
#include "TextReport.h"
#include "checks/SysfsSerialPorts.h"
#include "cli/Cli.h"
#include "cli/JsonReport.h"
#include "cli/Watch.h"
#include "pcsc/PCSCDef.h"
#include "pcsc/TextConversions.h"

using namespace cli;

namespace {

std::vector<unsigned char> Bytes(const std::string& text) {
    std::vector<unsigned char> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class CliOverFake : public ::testing::Test {
protected:
    CliOverFake() : lib(FAKE_PCSC_PATH) {}

    Result RunWith(std::vector<std::string_view> arguments,
                   SerialCheckRunner serial = checks::RunPlatformSerialCheck, int stopSignal = 0) {
        StringOutput out;
        StringOutput err;
        StopRequest stop;
        if (stopSignal != 0) stop.Request(stopSignal);
        Environment environment{out, err, stop, false, std::move(serial)};
        const int status = RunCli(ParseArguments(arguments), environment);
        return {status, out.Text(), err.Text()};
    }

    // Reader "Lecteur A" answers every detail, "Lecteur B" none.
    void TwoReadersOneWithDetails() {
        lib.AddReader("Lecteur A");
        lib.AddReader("Lecteur B");
        lib.SetAttrib("Lecteur A", pcsc::SCARD_ATTR_VENDOR_NAME, Bytes("ACME Cartes"));
        lib.SetAttrib("Lecteur A", pcsc::SCARD_ATTR_DEVICE_FRIENDLY_NAME_A,
                      Bytes("ACME Vitale USB"));
        lib.SetAttrib("Lecteur A", pcsc::SCARD_ATTR_VENDOR_IFD_SERIAL_NO, Bytes("SN-0042"));
        // Driver 1.23 (and firmware 7.8, replaced by the attribute below).
        lib.SetControlReply("Lecteur A", {0, 0, 0, 0, 1, 23, 7, 8, 0, 0, 0, 0});
        // Firmware 2.15, in BCD in the high bytes, the machine's byte order.
        const std::uint32_t ifd = 0x02150000;
        lib.SetAttrib(
            "Lecteur A", pcsc::SCARD_ATTR_VENDOR_IFD_VERSION,
            {static_cast<unsigned char>(ifd), static_cast<unsigned char>(ifd >> 8),
             static_cast<unsigned char>(ifd >> 16), static_cast<unsigned char>(ifd >> 24)});
    }

    fake::Library lib;
};

}  // namespace

TEST_F(CliOverFake, DetailsUnderEachReaderWithADashForWhatWasNotRead) {
    TwoReadersOneWithDetails();
    const Result run = RunWith({"--check", "pcsc", "--details"});
    EXPECT_EQ(run.status, kExitReaderFound);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(cli_test::ReportPart(run.out),
              "== Lecteurs PC/SC ==\n"
              "Connecté au service\n"
              "Liste des lecteurs :\n"
              "Lecteur A\n"
              "  Nom affiché : ACME Vitale USB\n"
              "  Fabricant : ACME Cartes\n"
              "  Numéro de série : SN-0042\n"
              "  Version du pilote : 1.23\n"
              "  Version du micrologiciel : 2.15\n"
              "  Carte : absente\n"
              "Lecteur B\n"
              "  Nom affiché : Lecteur B\n"
              "  Fabricant : -\n"
              "  Numéro de série : -\n"
              "  Version du pilote : -\n"
              "  Version du micrologiciel : -\n"
              "  Carte : absente\n");
    EXPECT_EQ(lib.OpenContexts(), 0) << "the manager is stopped at the end of the run";

    const long connects = lib.Calls("SCardConnect");
    const long attributes = lib.Calls("SCardGetAttrib");
    EXPECT_GE(connects, 2) << "a direct connection to each reader";

    // Without --details, only the pane's lines, and no reader is connected
    // to for details that nobody shows.
    const Result plain = RunWith({"--check", "pcsc"});
    EXPECT_EQ(cli_test::ReportPart(plain.out),
              "== Lecteurs PC/SC ==\n"
              "Connecté au service\n"
              "Liste des lecteurs :\n"
              "Lecteur A\n"
              "Lecteur B\n");
    EXPECT_EQ(lib.Calls("SCardConnect"), connects);
    EXPECT_EQ(lib.Calls("SCardGetAttrib"), attributes);
}

TEST_F(CliOverFake, DetailsInJsonAreTextsOrNull) {
    TwoReadersOneWithDetails();
    const Result run = RunWith({"--check", "pcsc", "--details", "--json"});
    EXPECT_EQ(run.status, kExitReaderFound);
    ASSERT_EQ(run.out.find('\n'), run.out.size() - 1) << "one document on one line";
    const minijson::Value doc = minijson::Parse(run.out);
    const minijson::Value& readers = doc["checks"][0]["readers"];
    ASSERT_EQ(readers.size(), 2u);
    EXPECT_EQ(readers[0]["name"].string, "Lecteur A");
    EXPECT_EQ(readers[0]["displayName"].string, "ACME Vitale USB");
    EXPECT_EQ(readers[0]["vendor"].string, "ACME Cartes");
    EXPECT_EQ(readers[0]["serial"].string, "SN-0042");
    EXPECT_EQ(readers[0]["driverVersion"].string, "1.23");
    EXPECT_EQ(readers[0]["firmwareVersion"].string, "2.15");
    EXPECT_EQ(readers[1]["name"].string, "Lecteur B");
    EXPECT_EQ(readers[1]["displayName"].string, "Lecteur B");
    EXPECT_TRUE(readers[1]["vendor"].IsNull());
    EXPECT_TRUE(readers[1]["serial"].IsNull());
    EXPECT_TRUE(readers[1]["driverVersion"].IsNull());
    EXPECT_TRUE(readers[1]["firmwareVersion"].IsNull());
}

TEST_F(CliOverFake, AnyReaderNameSurvivesJsonAndCannotActOnTheTerminal) {
    const std::string name = "Lecteur \"été\" \\ \t\x1b[31m\x01 € 😀";
    lib.AddReader(name);
    const Result json = RunWith({"--check", "pcsc,direct", "--json"});
    EXPECT_EQ(json.status, kExitReaderFound);
    EXPECT_EQ(json.out.find('\x1b'), std::string::npos);
    const minijson::Value doc = minijson::Parse(json.out);
    EXPECT_EQ(doc["checks"][0]["readers"][0]["name"].string, name);
    // The pane shows the name as a line shows it; the data field keeps it.
    EXPECT_EQ(doc["checks"][0]["pieces"][2]["text"].string,
              "Lecteur \"été\" \\ \t\xEF\xBF\xBD[31m\xEF\xBF\xBD € 😀\r\n");
    EXPECT_EQ(doc["checks"][1]["readers"][0]["name"].string, name);

    const Result text = RunWith({"--check", "pcsc", "--color=always"});
    EXPECT_NE(text.out.find("Lecteur \"été\" \\ \t\xEF\xBF\xBD[31m\xEF\xBF\xBD € 😀\n"),
              std::string::npos)
        << text.out;
}

TEST_F(CliOverFake, OutsideTextsForgeNoLineInDetailsEventsOrJson) {
    // A name that would print another check's heading and line, a vendor
    // that would print a --watch event, a serial number that would reverse
    // what follows it.
    const std::string name = "Evil\n== Lecteurs COM (GALSS) ==\nPorts série du système trouvés";
    const std::string shownName =
        "Evil\uFFFD== Lecteurs COM (GALSS) ==\uFFFDPorts série du système trouvés";
    const std::string vendor = "ACME\r\n2024-05-02 11:15:00.123  Carte insérée : X";
    const std::string serial = "SN\u202E4321";
    lib.AddReader(name);
    lib.SetAttrib(name, pcsc::SCARD_ATTR_VENDOR_NAME, Bytes(vendor));
    lib.SetAttrib(name, pcsc::SCARD_ATTR_VENDOR_IFD_SERIAL_NO, Bytes(serial));

    const Result text = RunWith({"--check", "pcsc", "--details"});
    EXPECT_EQ(cli_test::ReportPart(text.out),
              "== Lecteurs PC/SC ==\n"
              "Connecté au service\n"
              "Liste des lecteurs :\n" +
                  shownName + "\n  Nom affiché : " + shownName +
                  "\n"
                  "  Fabricant : ACME\uFFFD\uFFFD2024-05-02 11:15:00.123  Carte insérée : X\n"
                  "  Numéro de série : SN\uFFFD4321\n"
                  "  Version du pilote : -\n"
                  "  Version du micrologiciel : -\n"
                  "  Carte : absente\n");

    // The pieces as the pane holds them; the data fields exact.
    const minijson::Value doc =
        minijson::Parse(RunWith({"--check", "pcsc", "--details", "--json"}).out);
    const minijson::Value& check = doc["checks"][0];
    EXPECT_EQ(check["pieces"][2]["text"].string, shownName + "\r\n");
    EXPECT_EQ(check["readers"][0]["name"].string, name);
    EXPECT_EQ(check["readers"][0]["vendor"].string, vendor);
    EXPECT_EQ(check["readers"][0]["serial"].string, serial);

    // --watch: the event is one line.
    StringOutput out;
    EventPrinter events(out, false, false, false);
    events.GoLive();
    const std::u16string wide = pcsc::Utf8ToUtf16(name);
    events(ServiceEvent{std::chrono::system_clock::now(),
                        EventKind::CardInserted,
                        wide,
                        {0x3B, 0x00},
                        std::nullopt});
    const std::string printed = out.Text();
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 2) << printed;
    EXPECT_TRUE(printed.ends_with("  Carte présente : " + shownName + " (ATR 3B 00, T=0)\n"))
        << printed;
}

TEST_F(CliOverFake, ANameThatIsNotUtf8KeepsItsDetailsAndIsGivenInHexadecimal) {
    // A reader.conf's or a driver's Latin-1 bytes.
    const std::string latin1 = "Lecteur \xE9";
    lib.AddReader(latin1);
    // Read only if the name goes back to the service as its very bytes.
    lib.SetAttrib(latin1, pcsc::SCARD_ATTR_VENDOR_NAME, Bytes("ACME"));

    const Result text = RunWith({"--check", "pcsc,direct", "--details"});
    EXPECT_EQ(text.status, kExitReaderFound);
    EXPECT_EQ(cli_test::ReportPart(text.out),
              "== Lecteurs PC/SC ==\n"
              "Connecté au service\n"
              "Liste des lecteurs :\n"
              "Lecteur \uFFFD\n"
              "  Octets du nom : 4C 65 63 74 65 75 72 20 E9\n"
              "  Nom affiché : Lecteur \uFFFD\n"
              "  Fabricant : ACME\n"
              "  Numéro de série : -\n"
              "  Version du pilote : -\n"
              "  Version du micrologiciel : -\n"
              "  Carte : absente\n"
              "\n"
              "== Lecteurs PC/SC (sans ScardSvr) ==\n"
              "Connecté à la DLL\n"
              "Liste des lecteurs :\n"
              "Lecteur \uFFFD\n");

    const minijson::Value doc = minijson::Parse(RunWith({"--check", "pcsc,direct", "--json"}).out);
    for (const minijson::Value& check : doc["checks"].items) {
        SCOPED_TRACE(check["id"].string);
        const minijson::Value& readers = check["readers"];
        ASSERT_EQ(readers.size(), 1u);
        EXPECT_EQ(readers[0]["name"].string, "Lecteur \uFFFD");
        EXPECT_EQ(readers[0]["nameHex"].string, "4C65637465757220E9");
    }
    pcsc::Bytes atr{0x3B, 0x00};
    EXPECT_EQ(
        JsonEvent({std::chrono::system_clock::time_point{}, EventKind::CardInserted,
                   u"Lecteur \xDCE9", atr, std::nullopt, "Lecteur \xE9"}),
        "{\"time\":\"1970-01-01T00:00:00.000Z\",\"event\":\"card-inserted\",\"reader\":\"Lecteur \uFFFD\","
        "\"nameHex\":\"4C65637465757220E9\",\"atr\":\"3B 00\",\"convention\":\"direct\",\"protocols\":[\"T=0\"],"
        "\"historical\":\"\",\"atrValid\":true}");
}

TEST_F(CliOverFake, SerialPortsThatCannotBeReadAreListedWithTheReasonButNotFound) {
    const std::string loop = std::error_code(ELOOP, std::generic_category()).message();
    cli_test::SysfsTree tree;
    tree.UsbPort();
    tree.ById("usb-ACME_\xE9\nX-if00", "ttyACM0");  // bytes of a USB device's strings
    tree.LoopingPort("ttyACM1");
    const auto sysfs = [&tree](checks::ReportPane& pane) {
        return checks::RunSysfsSerialCheck(pane, tree.Root());
    };

    const Result text = RunWith({"--check", "com"}, sysfs);
    EXPECT_EQ(text.status, kExitReaderFound);
    EXPECT_EQ(cli_test::ReportPart(text.out),
              "== Lecteurs COM (GALSS) ==\n"
              "Ports série du système trouvés\n"
              "Liste des ports série :\n"
              "/dev/ttyACM0 : usb-ACME_\uFFFD\uFFFDX-if00\n"
              "/dev/ttyACM1 : lien de périphérique illisible (" +
                  loop + ")\n");
    const minijson::Value ports =
        minijson::Parse(RunWith({"--check", "com", "--json"}, sysfs).out)["checks"][0]["ports"];
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].Keys(), (std::vector<std::string>{"port", "device", "deviceHex"}));
    EXPECT_EQ(ports[0]["device"].string, "usb-ACME_\uFFFD\nX-if00");
    EXPECT_EQ(ports[0]["deviceHex"].string, "7573622D41434D455FE90A582D69663030");
    EXPECT_EQ(ports[1].Keys(), (std::vector<std::string>{"port", "error"}));
    EXPECT_EQ(ports[1]["port"].string, "/dev/ttyACM1");
    EXPECT_EQ(ports[1]["error"].string, loop);

    // Alone, a port that cannot be read is no port found.
    cli_test::SysfsTree unreadable;
    unreadable.LoopingPort("ttyACM1");
    const auto only = [&unreadable](checks::ReportPane& pane) {
        return checks::RunSysfsSerialCheck(pane, unreadable.Root());
    };
    const Result alone = RunWith({"--check", "com", "--json"}, only);
    EXPECT_EQ(alone.status, kExitNothingFound);
    EXPECT_EQ(minijson::Parse(alone.out)["checks"][0]["ports"].size(), 1u);
}

TEST_F(CliOverFake, LibraryMissingIsUnreachable) {
    setenv("VARDEL_PCSC_LIBRARY", "/nonexistent/libpcsclite.so.1", 1);
    const Result run = RunWith({"--check", "pcsc,direct"});
    EXPECT_EQ(run.status, kExitUnreachable);
    EXPECT_EQ(cli_test::ReportPart(run.out),
              "== Lecteurs PC/SC ==\n"
              "Erreur lors de la connexion au service\n"
              "\n"
              "== Lecteurs PC/SC (sans ScardSvr) ==\n"
              "Erreur au lancement de la commande - SCardEstablishContext\n");
    const Result json = RunWith({"--check", "pcsc,direct", "--json"});
    const minijson::Value doc = minijson::Parse(json.out);
    EXPECT_EQ(doc["checks"][0]["codes"].size(), 0u) << "no call was made";
    EXPECT_EQ(doc["checks"][1]["codes"].size(), 0u) << "no call was made";
    EXPECT_EQ(json.status, kExitUnreachable);
}

TEST_F(CliOverFake, ASerialValueThatIsNotTextStopsItsCheckWithStatus4) {
    const auto registry = [](checks::ReportPane& pane) {
        MemoryRegistry memory;
        const auto root = checks::RegistryRoot::LocalMachine;
        memory.AddKey(root, checks::kSerialCommKey);
        memory.SetValue(root, checks::kSerialCommKey,
                        MemoryRegistry::Text(u"\\Device\\USBSER000", u"COM3"));
        memory.SetValue(
            root, checks::kSerialCommKey,
            MemoryRegistry::Raw(u"\\Device\\USBSER001", checks::kRegBinary, {1, 2, 3, 4}));
        return checks::RunSerialCheck(pane, memory);
    };
    lib.AddReader("Lecteur A");
    const Result run = RunWith({}, registry);
    EXPECT_EQ(run.status, kExitCheckError);
    EXPECT_NE(run.out.find("== Lecteurs COM (GALSS) ==\n"
                           "Clé de registre trouvée\n"
                           "Liste des ports COM :\n"
                           "COM3 : \\Device\\USBSER000\n"
                           "\n"
                           "== Lecteurs PC/SC (sans ScardSvr) ==\n"),
              std::string::npos)
        << "the lines written stay, and the next check runs:\n"
        << run.out;
    EXPECT_NE(run.err.find("USBSER001"), std::string::npos) << run.err;

    const Result json = RunWith({"--json", "--check", "com"}, registry);
    EXPECT_EQ(json.status, kExitCheckError);
    const minijson::Value doc = minijson::Parse(json.out);
    const minijson::Value& com = doc["checks"][0];
    EXPECT_EQ(com["pieces"].size(), 3u);
    EXPECT_EQ(com["ports"].size(), 0u) << "a check cut short gives no list; its lines stay";
    EXPECT_NE(com["error"].string.find("USBSER001"), std::string::npos);
}

TEST_F(CliOverFake, AStopRequestedBeforeTheChecksRunsNoneOfThem) {
    lib.AddReader("Lecteur A");
    const Result interrupted = RunWith({}, checks::RunPlatformSerialCheck, SIGINT);
    EXPECT_EQ(interrupted.status, 128 + SIGINT);
    EXPECT_EQ(interrupted.out, "");
    EXPECT_EQ(RunWith({"--json"}, checks::RunPlatformSerialCheck, SIGTERM).status, 128 + SIGTERM);
    const Result watch = RunWith({"--watch"}, checks::RunPlatformSerialCheck, SIGTERM);
    EXPECT_EQ(watch.status, kExitStopped) << "a watch stopped cleanly";
    EXPECT_EQ(watch.out, "");
    EXPECT_EQ(lib.Calls("SCardEstablishContext"), 0);
}

TEST_F(CliOverFake, ExplainAndHelpNeedNoService) {
    lib.SetService(false);
    const Result explain = RunWith({"--explain", "0x80100008"});
    EXPECT_EQ(explain.status, kExitStopped);
    EXPECT_EQ(explain.out,
              "The data buffer to receive returned data is too small for the returned data.\n");
    EXPECT_EQ(RunWith({"--explain", "0"}).out, "Unknown Error: 0\n");
    EXPECT_EQ(RunWith({"--explain", "0x8010002E"}).out, "Unknown Error: -2146435026\n");
    EXPECT_EQ(lib.Calls("SCardEstablishContext"), 0);
}
