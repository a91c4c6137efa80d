// vardel-lecteurs-cli end to end against the lab's real pcscd with its vpcd
// readers and vicc cards: what a technician reads, what a fleet tool parses,
// the exit statuses, --watch following cards, and a frozen service.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <regex>
#include <thread>
#include <string>
#include <vector>

#include "Lab.h"
#include "MiniJson.h"
#include "Process.h"
#include "SysfsTree.h"
#include "TextReport.h"

using cli_test::Child;
using cli_test::Finished;

namespace {

const std::string kCli = CLI_PATH;
const std::string kReader0 = "Lab Reader 0 00 00";
const std::string kReader1 = "Lab Reader 0 00 01";
const std::string kViccAtr = "3B 95 13 81 01 80 73 FF 01 00 0B";

const std::string kServiceReport =
    "== Lecteurs PC/SC ==\n"
    "Connecté au service\n"
    "Liste des lecteurs :\n"
    "Lab Reader 0 00 00\n"
    "Lab Reader 0 00 01\n";
const std::string kNoSerialReport =
    "== Lecteurs COM (GALSS) ==\n"
    "Aucun port série n'est déclaré par le système\n";
const std::string kDirectReport =
    "== Lecteurs PC/SC (sans ScardSvr) ==\n"
    "Connecté à la DLL\n"
    "Liste des lecteurs :\n"
    "Lab Reader 0 00 00\n"
    "Lab Reader 0 00 01\n";
const std::string kAllWell =
    "\n"
    "== Bilan ==\n"
    "OK : le service de cartes à puce voit 2 lecteurs : Lab Reader 0 00 00, Lab Reader 0 00 01\n"
    "OK : aucun port série USB\n"
    "OK : l'appel direct à la bibliothèque de cartes à puce liste 2 lecteurs : Lab Reader 0 00 00, Lab Reader 0 "
    "00 01\n";

// Whatever a test does to the service, the next one finds it running.
struct ServiceBack {
    ~ServiceBack() {
        try {
            lab::Service("thaw");
        } catch (const std::exception&) {
            // nothing running to thaw
        }
        try {
            lab::Service("start");
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
    }
};

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The lines after `from`, each without its time stamp
// ("2024-05-02 11:15:00.123  " is checked and taken off).
std::vector<std::string> StampedLinesAfter(const std::string& text, const std::string& from) {
    static const std::regex stamped(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}  (.*)$)");
    std::vector<std::string> lines;
    std::size_t at = text.find(from);
    if (at == std::string::npos) return lines;
    at = text.find('\n', at) + 1;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        std::smatch match;
        lines.push_back(std::regex_match(line, match, stamped) ? match[1].str()
                                                               : "(no time stamp) " + line);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return lines;
}

class CliAgainstTheLab : public ::testing::Test {
protected:
    void SetUp() override {
        lab::Readers(2);
        lab::CardOut(0);
        lab::CardOut(1);
    }
    std::map<std::string, std::string> Env() const { return {{"VARDEL_SYSFS_ROOT", sysfs.Root()}}; }
    Finished Cli(const std::vector<std::string>& arguments) {
        return cli_test::Run(kCli, arguments, Env());
    }

    // The (event, reader) of every line after the document.
    static std::vector<std::string> Events(const std::vector<minijson::Value>& lines) {
        static const std::regex utc(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z$)");
        std::vector<std::string> events;
        for (std::size_t i = 1; i < lines.size(); ++i) {
            const minijson::Value& e = lines[i];
            EXPECT_TRUE(std::regex_match(e["time"].string, utc)) << e["time"].string;
            std::string text = e["event"].string + " " + e["reader"].string;
            if (e["event"].string == "card-inserted") text += " " + e["atr"].string;
            EXPECT_EQ(e.Has("atr"), e["event"].string == "card-inserted");
            events.push_back(text);
        }
        return events;
    }

    cli_test::SysfsTree sysfs;
};

}  // namespace

TEST_F(CliAgainstTheLab, PlainTextShowsEachCheckUnderItsCaption) {
    const Finished run = Cli({});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kServiceReport + "\n" + kNoSerialReport + "\n" + kDirectReport + kAllWell)
        << "no colour: stdout is a pipe";
    EXPECT_EQ(run.err, "");

    const Finished colored = Cli({"--color=always", "--check", "pcsc"});
    EXPECT_EQ(colored.status, 0);
    EXPECT_EQ(
        colored.out,
        "\x1b[1m== Lecteurs PC/SC ==\x1b[0m\n"
        "\x1b[1;32mConnecté au service\x1b[0m\n"
        "\x1b[4mListe des lecteurs :\x1b[0m\n"
        "Lab Reader 0 00 00\n"
        "Lab Reader 0 00 01\n"
        "\n"
        "\x1b[1m== Bilan ==\x1b[0m\n"
        "\x1b[1;32mOK : le service de cartes à puce voit 2 lecteurs : Lab Reader 0 00 00, Lab Reader 0 00 "
        "01\x1b[0m\n");
}

TEST_F(CliAgainstTheLab, JsonIsOneDocumentThatReadsBack) {
    const Finished run = Cli({"--json"});
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(Count(run.out, "\n"), 1u) << run.out;
    const minijson::Value doc = minijson::Parse(run.out);
    const minijson::Value& checks = doc["checks"];
    ASSERT_EQ(checks.size(), 3u);

    const minijson::Value& pcsc = checks[0];
    EXPECT_EQ(pcsc["id"].string, "pcsc");
    EXPECT_EQ(pcsc["title"].string, "Lecteurs PC/SC");
    ASSERT_EQ(pcsc["pieces"].size(), 4u);
    EXPECT_EQ(pcsc["pieces"][0]["text"].string, "Connecté au service\r\n");
    EXPECT_EQ(pcsc["pieces"][0]["style"][0].string, "bold");
    EXPECT_EQ(pcsc["pieces"][0]["color"].string, "#008000");
    EXPECT_EQ(pcsc["pieces"][1]["text"].string, "Liste des lecteurs :\r\n");
    EXPECT_EQ(pcsc["pieces"][1]["style"][0].string, "underline");
    EXPECT_EQ(pcsc["pieces"][1]["color"].string, "#000000");
    EXPECT_EQ(pcsc["pieces"][2]["text"].string, kReader0 + "\r\n");
    EXPECT_EQ(pcsc["pieces"][2]["style"].size(), 0u);
    EXPECT_EQ(pcsc["pieces"][3]["text"].string, kReader1 + "\r\n");
    EXPECT_TRUE(pcsc["serviceReached"].boolean);
    ASSERT_EQ(pcsc["readers"].size(), 2u);
    EXPECT_EQ(pcsc["readers"][0].Keys(), std::vector<std::string>{"name"});
    EXPECT_EQ(pcsc["readers"][0]["name"].string, kReader0);
    EXPECT_EQ(pcsc["readers"][1]["name"].string, kReader1);

    EXPECT_EQ(checks[1]["id"].string, "com");
    EXPECT_EQ(checks[1]["title"].string, "Lecteurs COM (GALSS)");
    EXPECT_EQ(checks[1]["ports"].size(), 0u);
    EXPECT_EQ(checks[1]["pieces"][0]["color"].string, "#FF0000");

    const minijson::Value& direct = checks[2];
    EXPECT_EQ(direct["id"].string, "direct");
    EXPECT_EQ(direct["title"].string, "Lecteurs PC/SC (sans ScardSvr)");
    EXPECT_EQ(direct["codes"]["establish"].number, 0);
    EXPECT_EQ(direct["codes"]["list"].number, 0);
    ASSERT_EQ(direct["readers"].size(), 2u);
    EXPECT_EQ(direct["readers"][1]["name"].string, kReader1);

    // Selected checks come in tab order; vpcd answers no vendor attribute.
    const Finished some = Cli({"--check", "direct,pcsc", "--json", "--details"});
    const minijson::Value two = minijson::Parse(some.out);
    ASSERT_EQ(two["checks"].size(), 2u);
    EXPECT_EQ(two["checks"][0]["id"].string, "pcsc");
    EXPECT_EQ(two["checks"][1]["id"].string, "direct");
    const minijson::Value& reader = two["checks"][0]["readers"][0];
    EXPECT_EQ(reader["displayName"].string, kReader0);
    EXPECT_TRUE(reader["vendor"].IsNull());
    EXPECT_TRUE(reader["serial"].IsNull());
    EXPECT_TRUE(reader["driverVersion"].IsNull());
    EXPECT_TRUE(reader["firmwareVersion"].IsNull());
}

TEST_F(CliAgainstTheLab, ServiceDownExits2AndEndsTheDetailLine) {
    ServiceBack back;
    lab::Service("stop");
    const Finished run = Cli({});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(cli_test::ReportPart(run.out),
              "== Lecteurs PC/SC ==\n"
              "Erreur lors de la connexion au service\n"
              "\n" +
                  kNoSerialReport +
                  "\n"
                  "== Lecteurs PC/SC (sans ScardSvr) ==\n"
                  "Erreur lors de la connexion à la DLL\n"
                  "Erreur (-2146435043) : The Smart card resource manager is not running.\n");
    // pcscd is installed here: it is to be started. The step is given once.
    EXPECT_EQ(
        cli_test::BilanPart(run.out),
        "ÉCHEC : le service de cartes à puce est injoignable : The Smart card resource manager is not "
        "running. (-2146435043)\n"
        "À faire : démarrer le service de cartes à puce : « systemctl start pcscd.socket » (en root)\n"
        "OK : aucun port série USB\n"
        "ÉCHEC : le service de cartes à puce est injoignable : The Smart card resource manager is not "
        "running. (-2146435043)\n");

    const Finished json = Cli({"--json", "--check", "pcsc,direct"});
    EXPECT_EQ(json.status, 2);
    const minijson::Value doc = minijson::Parse(json.out);
    EXPECT_FALSE(doc["checks"][0]["serviceReached"].boolean);
    EXPECT_EQ(doc["checks"][0]["readers"].size(), 0u);
    EXPECT_EQ(doc["checks"][1]["codes"].Keys(), std::vector<std::string>{"establish"});
    EXPECT_EQ(doc["checks"][1]["codes"]["establish"].number, -2146435043.0);
    EXPECT_EQ(doc["checks"][1]["pieces"][1]["text"].string,
              "Erreur (-2146435043) : The Smart card resource manager is not running.")
        << "the text exactly as appended: no CR LF";
}

TEST_F(CliAgainstTheLab, NoReaderExits1) {
    struct TwoReadersBack {
        ~TwoReadersBack() { lab::Readers(2); }
    } back;
    lab::Readers(0);
    const Finished run = Cli({"--check", "pcsc,direct"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(cli_test::ReportPart(run.out),
              "== Lecteurs PC/SC ==\n"
              "Connecté au service\n"
              "Liste des lecteurs :\n"
              "\n"
              "== Lecteurs PC/SC (sans ScardSvr) ==\n"
              "Connecté à la DLL\n"
              "Liste des lecteurs :\n"
              "Erreur lors du listage des lecteurs\n"
              "Erreur (-2146435026) : Unknown Error: -2146435026\n");
    EXPECT_EQ(Cli({"--check", "com"}).status, 1);
}

TEST_F(CliAgainstTheLab, WatchInJsonGivesEveryEventFromTheStartUntilSigint) {
    Child cli(kCli, {"--watch", "--json"}, Env());
    ASSERT_TRUE(cli.WaitForOutput([](const std::string& out) {
        return Count(out, "\"card-removed\"") == 2;
    })) << cli.Out()
        << cli.Err();
    EXPECT_EQ(lab::CardIn(0), kViccAtr);
    ASSERT_TRUE(cli.WaitForText("\"card-inserted\"")) << cli.Out();
    lab::CardOut(0);
    ASSERT_TRUE(cli.WaitForOutput([](const std::string& out) {
        return Count(out, "\"card-removed\"") == 3;
    })) << cli.Out();
    cli.Signal(SIGINT);
    const Finished end = cli.Wait();
    EXPECT_EQ(end.status, 0);
    EXPECT_EQ(end.err, "");

    const std::vector<minijson::Value> lines = minijson::ParseLines(end.out);
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0]["checks"].size(), 3u) << "the document comes first";
    EXPECT_EQ(lines[0]["checks"][0]["readers"].size(), 2u);
    EXPECT_EQ(Events(lines), (std::vector<std::string>{
                                 "reader-found " + kReader0,
                                 "reader-found " + kReader1,
                                 "card-removed " + kReader0,
                                 "card-removed " + kReader1,
                                 "card-inserted " + kReader0 + " " + kViccAtr,
                                 "card-removed " + kReader0,
                             }));
}

TEST_F(CliAgainstTheLab, AReaderNamedInLatin1GetsItsCardEvents) {
    // pcscd passes the reader.conf's bytes through: every call that names
    // the reader must give them back exactly, or the service does not know it.
    struct PlainNamesBack {
        ~PlainNamesBack() { lab::Readers(2); }
    } back;
    lab::Readers(2, true);
    const std::string name0 = "Lecteur \uFFFD 00 00";
    const std::string name1 = "Lecteur \uFFFD 00 01";
    Child cli(kCli, {"--watch", "--json", "--check", "pcsc"}, Env());
    ASSERT_TRUE(cli.WaitForOutput([](const std::string& out) {
        return Count(out, "\"card-removed\"") == 2;
    })) << cli.Out()
        << cli.Err();
    EXPECT_EQ(lab::CardIn(1), kViccAtr);
    ASSERT_TRUE(cli.WaitForText("\"card-inserted\"")) << cli.Out();
    cli.Signal(SIGINT);
    const Finished end = cli.Wait();
    EXPECT_EQ(end.status, 0);

    const std::vector<minijson::Value> lines = minijson::ParseLines(end.out);
    EXPECT_EQ(Events(lines), (std::vector<std::string>{
                                 "reader-found " + name0,
                                 "reader-found " + name1,
                                 "card-removed " + name0,
                                 "card-removed " + name1,
                                 "card-inserted " + name1 + " " + kViccAtr,
                             }));
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["nameHex"].string.substr(0, 24), "4C65637465757220E9203030")
            << "the name's bytes";
    }
    ASSERT_GE(lines.size(), 1u);
    EXPECT_EQ(lines[0]["checks"][0]["readers"][1]["nameHex"].string,
              "4C65637465757220E9203030203031");
}

TEST_F(CliAgainstTheLab, WatchInTextShowsCardsWithTheirTimeUntilSigterm) {
    Child cli(kCli, {"--watch", "--check", "pcsc"}, Env());
    ASSERT_TRUE(cli.WaitForText("Aucune carte : " + kReader1)) << cli.Out() << cli.Err();
    EXPECT_EQ(lab::CardIn(1, "3B 02 14 50"), "3B 02 14 50");
    ASSERT_TRUE(cli.WaitForText("Carte insérée : " + kReader1 + " (ATR 3B 02 14 50, T=0)"))
        << cli.Out();
    lab::CardOut(1);
    ASSERT_TRUE(cli.WaitForText("Carte retirée : " + kReader1)) << cli.Out();
    cli.Signal(SIGTERM);
    const Finished end = cli.Wait();
    EXPECT_EQ(end.status, 0);
    EXPECT_EQ(end.err, "");
    EXPECT_EQ(end.out.substr(0, kServiceReport.size()), kServiceReport);
    EXPECT_EQ(StampedLinesAfter(end.out, "Suivi des lecteurs et des cartes"),
              (std::vector<std::string>{
                  "Aucune carte : " + kReader0,
                  "Aucune carte : " + kReader1,
                  "Carte insérée : " + kReader1 + " (ATR 3B 02 14 50, T=0)",
                  "Carte retirée : " + kReader1,
              }));
}

TEST_F(CliAgainstTheLab, WatchFollowsAServiceStartedLater) {
    ServiceBack back;
    lab::Service("stop");
    Child cli(kCli, {"--watch", "--check", "pcsc"}, Env());
    ASSERT_TRUE(cli.WaitForText("Service injoignable, nouvelle tentative dans 1 s"))
        << cli.Out() << cli.Err();
    lab::Service("start");
    ASSERT_TRUE(cli.WaitForText("Aucune carte : " + kReader1)) << cli.Out();
    cli.Signal(SIGINT);
    const Finished end = cli.Wait();
    EXPECT_EQ(end.status, 0);
    const std::string report = "== Lecteurs PC/SC ==\nErreur lors de la connexion au service\n";
    EXPECT_EQ(end.out.substr(0, report.size()), report);
    EXPECT_EQ(StampedLinesAfter(end.out, "Suivi des lecteurs et des cartes"),
              (std::vector<std::string>{
                  "Service injoignable, nouvelle tentative dans 1 s",
                  "Service de cartes à puce de nouveau joignable",
                  "Lecteur trouvé : " + kReader0,
                  "Lecteur trouvé : " + kReader1,
                  "Aucune carte : " + kReader0,
                  "Aucune carte : " + kReader1,
              }));
}

TEST_F(CliAgainstTheLab, WatchSaysOnceWhenTheServiceIsLostAndBackThenDecodesTheNextCard) {
    ServiceBack back;
    Child cli(kCli, {"--watch", "--json", "--check", "pcsc"}, Env());
    ASSERT_TRUE(cli.WaitForOutput([](const std::string& out) {
        return Count(out, "\"card-removed\"") == 2;
    })) << cli.Out()
        << cli.Err();
    lab::Service("stop");
    ASSERT_TRUE(cli.WaitForOutput([](const std::string& out) {
        return Count(out, "\"reader-removed\"") == 2;
    })) << cli.Out();
    // The outage lasts a few of the watcher's attempts to reach it again.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    lab::Service("start");
    ASSERT_TRUE(cli.WaitForOutput([](const std::string& out) {
        return Count(out, "\"card-removed\"") == 4;
    })) << cli.Out();
    EXPECT_EQ(lab::CardIn(0), kViccAtr);
    ASSERT_TRUE(cli.WaitForText("\"card-inserted\"")) << cli.Out();
    cli.Signal(SIGINT);
    const Finished end = cli.Wait();
    EXPECT_EQ(end.status, 0);

    const std::vector<minijson::Value> lines = minijson::ParseLines(end.out);
    std::vector<std::string> events;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string event = lines[i]["event"].string;
        if (lines[i].Has("reader")) event += " " + lines[i]["reader"].string;
        if (event == "service-lost")
            event += " " + std::to_string(static_cast<long>(lines[i]["code"].number));
        events.push_back(event);
    }
    EXPECT_EQ(events, (std::vector<std::string>{
                          "reader-found " + kReader0,
                          "reader-found " + kReader1,
                          "card-removed " + kReader0,
                          "card-removed " + kReader1,
                          "service-lost -2146435043",
                          "reader-removed " + kReader1,
                          "reader-removed " + kReader0,
                          "service-back",
                          "reader-found " + kReader0,
                          "reader-found " + kReader1,
                          "card-removed " + kReader0,
                          "card-removed " + kReader1,
                          "card-inserted " + kReader0,
                      }));
    ASSERT_GE(lines.size(), 2u);
    const minijson::Value& inserted = lines.back();
    EXPECT_EQ(inserted["atr"].string, kViccAtr);
    ASSERT_EQ(inserted["protocols"].size(), 1u);
    EXPECT_EQ(inserted["protocols"][0].string, "T=1");
    EXPECT_TRUE(inserted["atrValid"].boolean);
}

TEST_F(CliAgainstTheLab, AFrozenServiceIsNamedAndEndsTheRunWithStatus3) {
    ServiceBack back;
    lab::Service("freeze");
    const Finished run = Cli({"--timeout", "1"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out, "") << "the first check never got its answer";
    EXPECT_NE(run.err.find("SCardEstablishContext n'a pas répondu\n"
                           "ÉCHEC : le service de cartes à puce ne répond pas\n"
                           "À faire : redémarrer le service de cartes à puce"),
              std::string::npos)
        << run.err;
    lab::Service("thaw");

    // Frozen while watching: the stop cannot finish, the calls are named.
    Child cli(kCli, {"--watch", "--check", "pcsc"}, Env());
    ASSERT_TRUE(cli.WaitForText("Aucune carte : " + kReader1)) << cli.Out() << cli.Err();
    lab::Service("freeze");
    cli.Signal(SIGINT);
    const Finished end = cli.Wait();
    EXPECT_EQ(end.status, 3);
    EXPECT_NE(end.err.find("pas répondu"), std::string::npos) << end.err;
    EXPECT_NE(end.err.find("SCard"), std::string::npos) << end.err;
}
