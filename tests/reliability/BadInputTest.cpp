// Odd input taken through the whole front end, in this process: the fake
// smart-card library, a registry in memory and a sysfs tree stand at the
// platform's boundaries; everything between them and the report (manager,
// checks, panes, text printer, JSON writer, exit status) is the real thing.
// Each case must give exactly its report line: the Parts' line where they
// have one, otherwise a line naming the problem and the item, and never a
// crash, a hang or a wrong line.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "FakePcscClient.h"
#include "MemoryRegistry.h"
#include "MiniJson.h"
#include "TextReport.h"
#include "checks/SysfsSerialPorts.h"
#include "cli/Cli.h"

using namespace cli;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

const std::vector<unsigned char> kAtr{0x3B, 0x95, 0x13, 0x81, 0x01, 0x80,
                                      0x73, 0xFF, 0x01, 0x00, 0x0B};

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

std::vector<std::string> Strings(const minijson::Value& array, const std::string& member) {
    std::vector<std::string> out;
    for (const auto& item : array.items) out.push_back(item[member].string);
    return out;
}

// The report lines as the service check writes them into its pane.
std::vector<std::string> ServiceReport(const std::vector<std::string>& names) {
    std::vector<std::string> lines{"Connecté au service", "Liste des lecteurs :"};
    lines.insert(lines.end(), names.begin(), names.end());
    return lines;
}

std::vector<std::string> DirectReport(const std::vector<std::string>& names) {
    std::vector<std::string> lines{"Connecté à la DLL", "Liste des lecteurs :"};
    lines.insert(lines.end(), names.begin(), names.end());
    return lines;
}

std::string Sections(const std::vector<std::string>& service,
                     const std::vector<std::string>& direct) {
    return "== Lecteurs PC/SC ==\n" + Join(service) + "\n== Lecteurs PC/SC (sans ScardSvr) ==\n" +
           Join(direct);
}

// The pane's pieces as JSON gives them back: text (CR LF kept), style, colour.
std::vector<std::string> Pieces(const minijson::Value& check) {
    std::vector<std::string> out;
    for (const auto& piece : check["pieces"].items) {
        std::string style;
        for (const auto& s : piece["style"].items) style += s.string + " ";
        out.push_back(piece["text"].string + "|" + style + "|" + piece["color"].string);
    }
    return out;
}

std::vector<std::string> PlainLines(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& name : names) out.push_back(name + "\r\n||#000000");
    return out;
}

class BadInput : public ::testing::Test {
protected:
    BadInput() : lib(FAKE_PCSC_PATH) {}

    Outcome RunWith(std::vector<std::string_view> arguments,
                    SerialCheckRunner serial = checks::RunPlatformSerialCheck) {
        StringOutput out;
        StringOutput err;
        StopRequest stop;
        Environment environment{out, err, stop, false, std::move(serial)};
        const int status = RunCli(ParseArguments(arguments), environment);
        return {status, out.Text(), err.Text()};
    }

    // --watch --json until `lines` lines are out (document included), with
    // `during` called once the first `ready` lines are; then SIGINT.
    Outcome Watch(std::size_t ready, const std::function<void()>& during, std::size_t lines) {
        StringOutput out;
        StringOutput err;
        StopRequest stop;
        Environment environment{out, err, stop, false, checks::RunPlatformSerialCheck};
        const auto count = [&out] {
            const std::string text = out.Text();
            return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        };
        std::thread driver([&] {
            const auto until = [&](std::size_t n) {
                // A guard against a hang, not a measure.
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while (count() < n && std::chrono::steady_clock::now() < end)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            };
            until(ready);
            during();
            until(lines);
            stop.Request(SIGINT);
        });
        const int status =
            RunCli(ParseArguments({"--watch", "--json", "--check", "pcsc"}), environment);
        driver.join();
        return {status, out.Text(), err.Text()};
    }

    fake::Library lib;
};

TEST_F(BadInput, SixteenReadersWithOddNamesComeOutUnchangedInThePanesTheTextAndTheJson) {
    // One character, accents, CJK, an emoji (a surrogate pair in UTF-16),
    // names that differ only in letter case; 16 readers in all, 173 bytes
    // as a multi-string, within the direct check's 256.
    std::vector<std::string> names{"R",         "Lecteur é", "Lecteur ü", "读卡器 中文",
                                   "Lecteur 💳", "lecteur a", "Lecteur A", "LECTEUR A"};
    for (int i = 9; i <= 16; ++i) names.push_back("Lecteur " + std::to_string(i));
    ASSERT_EQ(names.size(), 16u);
    for (const auto& name : names) lib.AddReader(name);

    const Outcome text = RunWith({"--check", "pcsc,direct"});
    EXPECT_EQ(text.status, kExitReaderFound);
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(cli_test::ReportPart(text.out), Sections(ServiceReport(names), DirectReport(names)));

    const Outcome json = RunWith({"--check", "pcsc,direct", "--json"});
    EXPECT_EQ(json.status, kExitReaderFound);
    const minijson::Value doc = minijson::Parse(json.out);
    const minijson::Value& service = doc["checks"][0];
    const minijson::Value& direct = doc["checks"][1];
    EXPECT_EQ(Strings(service["readers"], "name"), names);
    EXPECT_EQ(Strings(direct["readers"], "name"), names);
    std::vector<std::string> pieces{"Connecté au service\r\n|bold |#008000",
                                    "Liste des lecteurs :\r\n|underline |#000000"};
    const auto lines = PlainLines(names);
    pieces.insert(pieces.end(), lines.begin(), lines.end());
    EXPECT_EQ(Pieces(service), pieces);
    EXPECT_EQ(direct["codes"]["list"].number, 0);

    // Followed: every reader found and its first state, then a card in the
    // reader with the emoji, each event naming its reader exactly.
    const auto insert = [&] { lib.SetReaderState("Lecteur 💳", pcsc::SCARD_STATE_PRESENT, kAtr); };
    const Outcome watch = Watch(1 + 2 * names.size(), insert, 2 + 2 * names.size());
    EXPECT_EQ(watch.status, kExitStopped) << watch.err;
    const auto events = minijson::ParseLines(watch.out);
    ASSERT_EQ(events.size(), 2 + 2 * names.size()) << watch.out;
    std::vector<std::string> found;
    std::vector<std::string> empty;
    for (std::size_t i = 1; i + 1 < events.size(); ++i) {
        const std::string& event = events[i]["event"].string;
        if (event == "reader-found") {
            found.push_back(events[i]["reader"].string);
        } else {
            EXPECT_EQ(event, "card-removed");
            empty.push_back(events[i]["reader"].string);
        }
    }
    EXPECT_EQ(found, names);
    EXPECT_EQ(empty, names);
    EXPECT_EQ(events.back()["event"].string, "card-inserted");
    EXPECT_EQ(events.back()["reader"].string, "Lecteur 💳");
    EXPECT_EQ(events.back()["atr"].string, "3B 95 13 81 01 80 73 FF 01 00 0B");
}

TEST_F(BadInput, NamesOf127CharactersAndReaderListsOf256And257Characters) {
    // 127 + 1 + 126 + 1 + 1 = 256 characters: the direct check lists both.
    const std::string longest = "L" + std::string(126, 'x');
    const std::string shorter = "M" + std::string(125, 'y');
    lib.AddReader(longest);
    lib.AddReader(shorter);
    const Outcome fits = RunWith({"--check", "pcsc,direct"});
    EXPECT_EQ(fits.status, kExitReaderFound);
    EXPECT_EQ(cli_test::ReportPart(fits.out),
              Sections(ServiceReport({longest, shorter}), DirectReport({longest, shorter})));

    // 127 + 1 + 127 + 1 + 1 = 257: the service check lists both; the direct
    // check, with its 256 characters, says the buffer is too small.
    const std::string other = "N" + std::string(126, 'z');
    lib.RemoveReader(shorter);
    lib.AddReader(other);
    const Outcome tooLong = RunWith({"--check", "pcsc,direct"});
    EXPECT_EQ(tooLong.status, kExitReaderFound) << "the service check found readers";
    EXPECT_EQ(
        cli_test::ReportPart(tooLong.out),
        Sections(
            ServiceReport({longest, other}),
            {"Connecté à la DLL", "Liste des lecteurs :", "Erreur lors du listage des lecteurs",
             "Erreur (-2146435064) : The data buffer to receive returned data is too small for "
             "the returned data."}));
    const Outcome directJson = RunWith({"--check", "direct", "--json"});
    const minijson::Value direct = minijson::Parse(directJson.out)["checks"][0];
    EXPECT_EQ(direct["codes"]["list"].number, -2146435064);
    EXPECT_EQ(direct["readers"].size(), 0u);
    EXPECT_EQ(directJson.status, kExitUnreachable)
        << "the direct check alone could not read the list";

    // 127 characters of two bytes each: 254 + 1 + 1 = 256 bytes.
    std::string accented;
    for (int i = 0; i < 127; ++i) accented += "é";
    lib.RemoveReader(longest);
    lib.RemoveReader(other);
    lib.AddReader(accented);
    const Outcome wide = RunWith({"--check", "pcsc,direct", "--json"});
    const minijson::Value doc = minijson::Parse(wide.out);
    EXPECT_EQ(Strings(doc["checks"][0]["readers"], "name"), std::vector<std::string>{accented});
    EXPECT_EQ(Strings(doc["checks"][1]["readers"], "name"), std::vector<std::string>{accented});
}

// The registry as the serial-port check reads it on Windows, through the
// whole front end.
SerialCheckRunner RegistryWith(std::vector<MemoryRegistry::Value> values) {
    return [values](checks::ReportPane& pane) {
        MemoryRegistry registry;
        const auto root = checks::RegistryRoot::LocalMachine;
        registry.AddKey(root, checks::kSerialCommKey);
        for (const auto& value : values) registry.SetValue(root, checks::kSerialCommKey, value);
        return checks::RunSerialCheck(pane, registry);
    };
}

TEST_F(BadInput, RegistryValuesOfEveryTypeGiveTheirLineOrStopTheCheckNamingTheValue) {
    using checks::kRegDword;
    using checks::kRegExpandSz;
    using checks::kRegMultiSz;
    using checks::kRegSz;
    // Text types are read up to the first NUL without expanding anything, a
    // value without data is the empty text whatever its type, and a value
    // that is not a USB port is never read.
    const auto readable = RegistryWith({
        MemoryRegistry::Raw(u"\\Device\\Serial0", kRegDword, {1, 0, 0, 0}),
        MemoryRegistry::Text(u"\\Device\\USBSER000", u"%SERIAL%\\COM3", kRegExpandSz),
        MemoryRegistry::Raw(u"\\Device\\USBSER001", kRegSz, {}),
        MemoryRegistry::Raw(u"\\Device\\USBSER002", kRegDword, {}),
        MemoryRegistry::Raw(u"\\Device\\USBSER003", kRegMultiSz, {}),
    });
    const Outcome text = RunWith({"--check", "com"}, readable);
    EXPECT_EQ(text.status, kExitReaderFound) << "USB serial ports were found";
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(cli_test::ReportPart(text.out),
              "== Lecteurs COM (GALSS) ==\n"
              "Clé de registre trouvée\n"
              "Liste des ports COM :\n"
              "%SERIAL%\\COM3 : \\Device\\USBSER000\n"
              " : \\Device\\USBSER001\n"
              " : \\Device\\USBSER002\n"
              " : \\Device\\USBSER003\n");
    const minijson::Value com =
        minijson::Parse(RunWith({"--check", "com", "--json"}, readable).out)["checks"][0];
    EXPECT_EQ(Strings(com["ports"], "port"),
              (std::vector<std::string>{"%SERIAL%\\COM3", "", "", ""}));
    EXPECT_FALSE(com.Has("error"));

    // Data of any other type stops the check at that value: the lines
    // written stay, the error names the value and its type, status 4.
    struct NotText {
        std::uint32_t type;
        std::vector<std::uint8_t> data;
    };
    for (const NotText& value :
         {NotText{kRegDword, {3, 0, 0, 0}},
          NotText{kRegMultiSz, {'C', 0, 'O', 0, 'M', 0, '4', 0, 0, 0, 0, 0}}}) {
        SCOPED_TRACE("type " + std::to_string(value.type));
        const auto stopping =
            RegistryWith({MemoryRegistry::Text(u"\\Device\\USBSER000", u"COM3"),
                          MemoryRegistry::Raw(u"\\Device\\USBSER001", value.type, value.data),
                          MemoryRegistry::Text(u"\\Device\\USBSER002", u"COM5")});
        const Outcome run = RunWith({"--check", "com"}, stopping);
        EXPECT_EQ(run.status, kExitCheckError);
        EXPECT_EQ(cli_test::ReportPart(run.out),
                  "== Lecteurs COM (GALSS) ==\n"
                  "Clé de registre trouvée\n"
                  "Liste des ports COM :\n"
                  "COM3 : \\Device\\USBSER000\n");
        EXPECT_EQ(run.err, "La valeur de registre '\\Device\\USBSER001' n'est pas du texte (type " +
                               std::to_string(value.type) + ")\n");
        const minijson::Value check =
            minijson::Parse(RunWith({"--check", "com", "--json"}, stopping).out)["checks"][0];
        EXPECT_EQ(check["error"].string,
                  "La valeur de registre '\\Device\\USBSER001' n'est pas du texte (type " +
                      std::to_string(value.type) + ")");
        EXPECT_EQ(check["pieces"].size(), 3u);
    }
}

// A tty whose device link cannot be followed (here a link that loops) next
// to a good USB port and an unplugged one (a link to nowhere, left out): the
// good port keeps its line, and the report names the tty it could not
// follow instead of passing over it in silence.
TEST_F(BadInput, ATtyWhoseDeviceLinkCannotBeReadIsNamedInTheReport) {
    std::string pattern = (fs::temp_directory_path() / "vardel-rel-sysfs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path root = pattern;
    const fs::path interface = root / "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0";
    const auto tty = [&](const std::string& name, const fs::path& link) {
        fs::create_directories(interface / "tty" / name);
        fs::create_symlink(link, interface / "tty" / name / "device");
        fs::create_symlink("../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/tty/" + name,
                           root / "sys/class/tty" / name);
    };
    fs::create_directories(interface);
    fs::create_directories(root / "sys/bus/usb");
    fs::create_directories(root / "sys/class/tty");
    fs::create_symlink(root / "sys/bus/usb", interface.parent_path() / "subsystem");
    fs::create_symlink(root / "sys/bus/usb", interface / "subsystem");
    tty("ttyACM0", "../../../1-1:1.0");
    tty("ttyACM1", "device");
    tty("ttyACM2", "../../../1-1:1.9");

    const auto sysfs = [root](checks::ReportPane& pane) {
        return checks::RunSysfsSerialCheck(pane, root);
    };
    const Outcome text = RunWith({"--check", "com"}, sysfs);
    const Outcome json = RunWith({"--check", "com", "--json"}, sysfs);
    std::error_code ignored;
    fs::remove_all(root, ignored);

    const std::string loop = std::error_code(ELOOP, std::generic_category()).message();
    EXPECT_EQ(text.status, kExitReaderFound);
    EXPECT_EQ(text.err, "");
    EXPECT_EQ(cli_test::ReportPart(text.out),
              "== Lecteurs COM (GALSS) ==\n"
              "Ports série du système trouvés\n"
              "Liste des ports série :\n"
              "/dev/ttyACM0 : 1-1:1.0\n"
              "/dev/ttyACM1 : lien de périphérique illisible (" +
                  loop + ")\n");
    const minijson::Value com = minijson::Parse(json.out)["checks"][0];
    EXPECT_EQ(Strings(com["ports"], "port"),
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyACM1"}));
    EXPECT_EQ(com["ports"][1]["error"].string, loop);
    EXPECT_EQ(Pieces(com).back(),
              "/dev/ttyACM1 : lien de périphérique illisible (" + loop + ")\r\n||#FF0000");
}

}  // namespace
