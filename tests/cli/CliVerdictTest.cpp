// The verdict that ends the report, one row per situation: the fake
// smart-card library, a sysfs tree (Linux) or a registry in memory (Windows)
// and the machine's facts stand at the platform's boundaries; the checks,
// the verdict's table and the JSON are the real thing. Each row checks each
// check's status, whether there is something to do, and that the sentence or
// the step names what it is about. Over the fake library on Linux and,
// through Wine, over the fake winscard.dll.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "FakePcscClient.h"
#include "MemoryRegistry.h"
#include "MiniJson.h"
#include "checks/MachineFacts.h"
#include "cli/Cli.h"
#include "cli/Watch.h"
#include "pcsc/PCSCDef.h"

#if !defined(_WIN32)
#include "SysfsTree.h"
#include "checks/SysfsSerialPorts.h"
#endif

using namespace cli;

namespace {

// The serial ports of a row: none at all, one USB port, or one that cannot
// be read, as this platform's check finds them.
enum class Ports { None, Usb, Unreadable };

SerialCheckRunner SerialPorts(Ports ports) {
#if defined(_WIN32)
    return [ports](checks::ReportPane& pane) {
        MemoryRegistry registry;
        const auto root = checks::RegistryRoot::LocalMachine;
        if (ports != Ports::None) registry.AddKey(root, checks::kSerialCommKey);
        if (ports == Ports::Usb)
            registry.SetValue(root, checks::kSerialCommKey,
                              MemoryRegistry::Text(u"\\Device\\USBSER000", u"COM3"));
        if (ports == Ports::Unreadable)
            registry.SetValue(
                root, checks::kSerialCommKey,
                MemoryRegistry::Raw(u"\\Device\\USBSER000", checks::kRegBinary, {1, 2}));
        return checks::RunSerialCheck(pane, registry);
    };
#else
    return [ports](checks::ReportPane& pane) {
        cli_test::SysfsTree tree;
        if (ports == Ports::Usb) tree.UsbPort();
        if (ports == Ports::Unreadable) tree.LoopingPort("ttyACM1");
        return checks::RunSysfsSerialCheck(pane, tree.Root());
    };
#endif
}

struct Stage {
    fake::Library& lib;
    checks::MachineFacts facts;
    Ports ports = Ports::None;
    // Runs between the service check and the direct check (it is the serial
    // check's turn): a reader plugged or unplugged meanwhile.
    std::function<void(fake::Library&)> betweenChecks = {};
};

struct Expected {
    const char* check;
    const char* status;
    bool advice;
    // Found in the summary or in the advice ("" for nothing in particular).
    std::string names = "";
};

struct Row {
    const char* situation;
    std::function<void(Stage&)> serve;
    std::vector<Expected> expected;
};

const std::vector<unsigned char> kAtr{0x3B, 0x95, 0x13, 0x81, 0x01, 0x80,
                                      0x73, 0xFF, 0x01, 0x00, 0x0B};

std::string Joined(const minijson::Value& verdict) {
    std::string text = verdict["summary"].string;
    if (verdict.Has("advice")) {
        for (const minijson::Value& advice : verdict["advice"].items) text += "\n" + advice.string;
    }
    return text;
}

}  // namespace

TEST(VerdictOverFake, EachSituationGivesItsStatusAndItsNextStep) {
    const unsigned long present = pcsc::SCARD_STATE_PRESENT;
    const std::vector<Row> rows {
        {"readers listed by both, a card in one",
         [&](Stage& s) {
             s.lib.AddReader("Lecteur A");
             s.lib.AddReader("Lecteur B");
             s.lib.SetReaderState("Lecteur A", present, kAtr);
         },
         {{"pcsc", "ok", false, "Lecteur A, Lecteur B"},
          {"com", "ok", false, "aucun port série USB"},
          {"direct", "ok", false, "Lecteur A, Lecteur B"}}},
            {"service unreachable",
             [](Stage& s) { s.lib.SetService(false); },
             {{"pcsc", "error", true, "-2146435043"},
              {"com", "ok", false},
              {"direct", "error", true, "-2146435043"}}},
            {"library missing",
             [](Stage&) { setenv("VARDEL_PCSC_LIBRARY", "/nonexistent/smart-card-library", 1); },
             {{"pcsc", "error", true, "/nonexistent/smart-card-library"},
              {"com", "ok", false},
              {"direct", "error", true}}},
            {"no reader",
             [](Stage&) {},
             {{"pcsc", "warning", true, "aucun lecteur"},
              {"com", "ok", false},
              {"direct", "warning", true}}},
            {"no reader, a USB serial port",
             [](Stage& s) { s.ports = Ports::Usb; },
             {{"pcsc", "warning", true, "GALSS"},
              {"com", "ok", false},
              {"direct", "warning", true, "GALSS"}}},
            {"the direct check's 256 characters too few",
             [](Stage& s) {
                 s.lib.AddReader("L" + std::string(126, 'x'));
                 s.lib.AddReader("N" + std::string(126, 'z'));
             },
             {{"pcsc", "ok", false}, {"com", "ok", false}, {"direct", "warning", false, "256"}}},
            {"a listing that fails",
             [](Stage& s) {
                 s.lib.AddReader("Lecteur A");
                 s.lib.ForceResult("SCardListReaders",
                                   static_cast<long>(static_cast<std::int32_t>(0x80100013)), -1);
             },
             {{"pcsc", "error", true, "-2146435053"},
              {"com", "ok", false},
              {"direct", "error", true, "-2146435053"}}},
            {"a list that cannot be read",
             [](Stage& s) { s.lib.SetRawReaderList(std::string("Lecteur A\0Lecteur B", 19)); },
             {{"pcsc", "error", true},
              {"com", "ok", false},
              {"direct", "ok", false, "Lecteur A, Lecteur B"}}},
            {"a card held exclusively",
             [&](Stage& s) {
                 s.lib.AddReader("Lecteur A");
                 s.lib.SetReaderState("Lecteur A", present | pcsc::SCARD_STATE_EXCLUSIVE, kAtr);
             },
             {{"pcsc", "warning", true, "la carte de Lecteur A"},
              {"com", "ok", false},
              {"direct", "ok", false}}},
            {"a mute card",
             [&](Stage& s) {
                 s.lib.AddReader("Lecteur A");
                 s.lib.SetReaderState("Lecteur A", present | pcsc::SCARD_STATE_MUTE);
             },
             {{"pcsc", "warning", true, "la carte de Lecteur A"},
              {"com", "ok", false},
              {"direct", "ok", false}}},
            {"an answer-to-reset cut short",
             [&](Stage& s) {
                 s.lib.AddReader("Lecteur A");
                 s.lib.SetReaderState("Lecteur A", present, {0x3B, 0x95, 0x13});
             },
             {{"pcsc", "warning", true, "ATR tronqué"},
              {"com", "ok", false},
              {"direct", "ok", false}}},
            {"a reader unplugged between the two PC/SC checks",
             [](Stage& s) {
                 s.lib.AddReader("Lecteur A");
                 s.lib.AddReader("Lecteur B");
                 s.betweenChecks = [](fake::Library& lib) { lib.RemoveReader("Lecteur B"); };
             },
             {{"pcsc", "ok", false},
              {"com", "ok", false},
              {"direct", "warning", true, "Lecteur B"}}},
            {"a reader plugged between the two PC/SC checks",
             [](Stage& s) {
                 s.lib.AddReader("Lecteur A");
                 s.betweenChecks = [](fake::Library& lib) { lib.AddReader("Lecteur B"); };
             },
             {{"pcsc", "warning", true, "Lecteur B"},
              {"com", "ok", false},
              {"direct", "ok", false}}},
            {"a USB serial port",
             [](Stage& s) {
                 s.lib.AddReader("Lecteur A");
                 s.ports = Ports::Usb;
             },
             {{"pcsc", "ok", false},
              {"com", "ok", false, "1 port série USB"},
              {"direct", "ok", false}}},
            {"a serial port that cannot be read",
             [](Stage& s) {
                 s.lib.AddReader("Lecteur A");
                 s.ports = Ports::Unreadable;
             },
             {{"pcsc", "ok", false}, {"com", "warning", true}, {"direct", "ok", false}}},
#if defined(_WIN32)
            {"the smart-card service disabled",
             [](Stage& s) {
                 s.lib.SetService(false);
                 s.facts.serviceStart = checks::kServiceDisabled;
             },
             {{"pcsc", "error", true, "sc config SCardSvr start= demand"},
              {"com", "ok", false},
              {"direct", "error", true, "sc config SCardSvr start= demand"}}},
#else
            {"no smart-card service installed",
             [](Stage& s) {
                 s.lib.SetService(false);
                 s.facts.serviceInstalled = false;
             },
             {{"pcsc", "error", true, "apt install pcscd"},
              {"com", "ok", false},
              {"direct", "error", true, "apt install pcscd"}}},
            {"no reader, no driver for USB readers",
             [](Stage& s) { s.facts.ccidDriverInstalled = false; },
             {{"pcsc", "warning", true, "libccid"},
              {"com", "ok", false},
              {"direct", "warning", true, "libccid"}}},
#endif
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.situation);
        fake::Library lib(FAKE_PCSC_PATH);
        Stage setup{lib, checks::MachineFacts{}};
        row.serve(setup);
        // The machine's own facts but for what the row says.
        const auto facts = [&setup] {
            checks::MachineFacts facts = setup.facts;
            facts.library = checks::ReadMachineFacts().library;
            return facts;
        };

        StringOutput out;
        StringOutput err;
        StopRequest stop;
        const SerialCheckRunner serial = SerialPorts(setup.ports);
        Environment environment{out,
                                err,
                                stop,
                                false,
                                [&](checks::ReportPane& pane) {
                                    if (setup.betweenChecks) setup.betweenChecks(lib);
                                    return serial(pane);
                                },
                                facts};
        const int status = RunCli(ParseArguments({"--json"}), environment);
        EXPECT_NE(status, kExitNoAnswer);
        const minijson::Value diagnosis = minijson::Parse(out.Text())["diagnosis"];
        ASSERT_EQ(diagnosis.size(), row.expected.size()) << out.Text();
        for (std::size_t i = 0; i < row.expected.size(); ++i) {
            const Expected& expected = row.expected[i];
            const minijson::Value& verdict = diagnosis[i];
            SCOPED_TRACE(Joined(verdict));
            EXPECT_EQ(verdict["check"].string, expected.check);
            EXPECT_EQ(verdict["status"].string, expected.status);
            EXPECT_EQ(verdict.Has("advice"), expected.advice);
            if (verdict.Has("advice")) {
                EXPECT_NE(verdict["advice"].size(), 0u);
            }
            EXPECT_NE(Joined(verdict).find(expected.names), std::string::npos) << expected.names;
        }
    }
}

TEST(VerdictOverFake, TheServiceLostAndBackLinesSayWhatThePlatformDoes) {
    StringOutput out;
    EventPrinter events(out, false, false, false);
    events.GoLive();
    ServiceEvent lost{std::chrono::system_clock::now(), EventKind::ServiceLost};
    lost.code = pcsc::SCARD_E_SERVICE_STOPPED;
    lost.readersLeft = 1;
    events(lost);
    lost.readersLeft = 0;
    events(lost);
    events(ServiceEvent{std::chrono::system_clock::now(), EventKind::ServiceBack});
    std::vector<std::string> lines;
    const std::string text = out.Text();
    for (std::size_t at = text.find("  "); at != std::string::npos; at = text.find("  ", at + 1)) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at + 2, end - at - 2));
        at = end;
    }
    const std::string lostLine =
        "Service de cartes à puce perdu : The Smart card resource manager has shut down. (-2146435042)";
#if defined(_WIN32)
    // The last reader unplugged: Windows stops the service, nothing is lost.
    const std::string noReaderLeft =
        "Service de cartes à puce arrêté par Windows : plus aucun lecteur n'est branché";
#else
    const std::string noReaderLeft = lostLine;
#endif
    EXPECT_EQ(lines, (std::vector<std::string>{lostLine, noReaderLeft,
                                               "Service de cartes à puce de nouveau joignable"}))
        << text;
}
