// How reports and events are written: JSON strings and documents, terminal
// text with and without ANSI attributes, and the exit status rules.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "MiniJson.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/JsonReport.h"
#include "cli/Output.h"
#include "cli/TextPrinter.h"

using namespace cli;
using checks::kBlack;
using checks::kBold;
using checks::kGreen;
using checks::kPlain;
using checks::kRed;
using checks::kUnderline;

TEST(CliJson, StringsAreEscapedAsRfc8259AsksAndStayUtf8) {
    EXPECT_EQ(json::String(u"Connecté au service\r\n"), "\"Connecté au service\\r\\n\"");
    EXPECT_EQ(json::String(u"a\"b\\c/d\te"), "\"a\\\"b\\\\c/d\\te\"");
    EXPECT_EQ(json::String(std::u16string(u"\x01\x1f\x7f\b\f", 5)), "\"\\u0001\\u001f\x7f\\b\\f\"");
    EXPECT_EQ(json::String(std::u16string(u"nul\0!", 5)), "\"nul\\u0000!\"");
    EXPECT_EQ(json::String(u"€ 😀"), "\"€ 😀\"");
    EXPECT_EQ(json::String(std::u16string(1, char16_t(0xD800))), "\"\xEF\xBF\xBD\"")
        << "unpaired surrogate";
    EXPECT_EQ(json::String(std::string_view("bad \xC3(")), "\"bad \xEF\xBF\xBD(\"")
        << "malformed UTF-8";

    // Read back, they give the text again.
    const std::u16string hard = u"q\"b\\s\r\n\t\x01 é € 😀";
    EXPECT_EQ(minijson::Parse(json::String(hard)).string, "q\"b\\s\r\n\t\x01 é € 😀");
}

TEST(CliJson, ColoursTimesAndEvents) {
    EXPECT_EQ(HtmlColor(kRed), "#FF0000");
    EXPECT_EQ(HtmlColor(kGreen), "#008000");
    EXPECT_EQ(HtmlColor(kBlack), "#000000");
    EXPECT_EQ(HtmlColor(0x00563412), "#123456");

    const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1714641300123));
    EXPECT_EQ(UtcTimestamp(at), "2024-05-02T09:15:00.123Z");
    EXPECT_EQ(UtcTimestamp(std::chrono::system_clock::time_point{}), "1970-01-01T00:00:00.000Z");

    EXPECT_EQ(
        JsonEvent({at, EventKind::CardInserted, u"Lecteur \"A\"", {0x3B, 0x02, 0x14, 0x50}, {}}),
        R"({"time":"2024-05-02T09:15:00.123Z","event":"card-inserted","reader":"Lecteur \"A\"","atr":"3B 02 14 50",)"
        R"("convention":"direct","protocols":["T=0"],"historical":"14 50","atrValid":true})");
    ServiceEvent lost{at, EventKind::ServiceLost};
    lost.code = 0x8010001D;
    EXPECT_EQ(JsonEvent(lost),
              R"({"time":"2024-05-02T09:15:00.123Z","event":"service-lost","code":-2146435043})");
    EXPECT_EQ(JsonEvent({at, EventKind::ServiceBack}),
              R"({"time":"2024-05-02T09:15:00.123Z","event":"service-back"})");
    EXPECT_EQ(JsonEvent({at, EventKind::CardRemoved, u"R", {}, {}}),
              R"({"time":"2024-05-02T09:15:00.123Z","event":"card-removed","reader":"R"})");
    EXPECT_EQ(EventName(EventKind::ReaderFound), "reader-found");
    EXPECT_EQ(EventName(EventKind::ReaderRemoved), "reader-removed");
    EXPECT_EQ(EventName(EventKind::CardError), "card-error");
}

TEST(CliJson, DocumentHoldsEachCheckWithWhatAFleetToolNeeds) {
    CheckOutcome service;
    service.id = CheckId::Service;
    service.pieces = {{u"Connecté au service\r\n", kBold, kGreen},
                      {u"Liste des lecteurs :\r\n", kUnderline, kBlack},
                      {u"R1\r\n", kPlain, kBlack}};
    ReaderDetails details;
    details.displayName = u"R1 (USB)";
    details.driverVersion = "1.23";
    service.readers = {{u"R1", 2, details}};
    // A card whose answer-to-reset is cut short.
    service.readers[0].card = CardSeen{pcsc::TCardState::csAvailable, {0x3B, 0x95, 0x13}};
    service.serviceReached = true;

    CheckOutcome serial;
    serial.id = CheckId::Serial;
    serial.ports = {{u"COM3", u"\\Device\\USBSER000"}};
    serial.error = "La valeur n'est pas un texte";

    CheckOutcome direct;
    direct.id = CheckId::Direct;
    direct.pieces = {{u"Erreur lors de la connexion à la DLL\r\n", kBold, kRed},
                     {u"Erreur (-2146435043) : The Smart card resource manager is not running.",
                      kPlain, kBlack}};
    direct.establishCode = 0x8010001D;

    checks::Verdict verdict{
        checks::CheckKind::Serial, checks::VerdictStatus::Warning, u"un port", {u"rebrancher"}};
    const minijson::Value doc = minijson::Parse(
        JsonDocument({service, serial, direct}, true, {verdict, {checks::CheckKind::Direct}}));
    ASSERT_EQ(doc.Keys(), (std::vector<std::string>{"checks", "diagnosis"}));
    const minijson::Value& checks = doc["checks"];
    ASSERT_EQ(checks.size(), 3u);

    const minijson::Value& s = checks[0];
    EXPECT_EQ(s.Keys(), (std::vector<std::string>{"id", "title", "pieces", "serviceReached",
                                                  "readers", "codes"}));
    EXPECT_EQ(s["id"].string, "pcsc");
    EXPECT_EQ(s["title"].string, "Lecteurs PC/SC");
    EXPECT_EQ(s["pieces"][0]["text"].string, "Connecté au service\r\n");
    ASSERT_EQ(s["pieces"][0]["style"].size(), 1u);
    EXPECT_EQ(s["pieces"][0]["style"][0].string, "bold");
    EXPECT_EQ(s["pieces"][0]["color"].string, "#008000");
    EXPECT_EQ(s["pieces"][1]["style"][0].string, "underline");
    EXPECT_EQ(s["pieces"][2]["style"].size(), 0u);
    EXPECT_TRUE(s["serviceReached"].boolean);
    const minijson::Value& r = s["readers"][0];
    EXPECT_EQ(r.Keys(), (std::vector<std::string>{"name", "displayName", "vendor", "serial",
                                                  "driverVersion", "firmwareVersion", "card"}));
    EXPECT_EQ(r["name"].string, "R1");
    EXPECT_EQ(r["displayName"].string, "R1 (USB)");
    EXPECT_TRUE(r["vendor"].IsNull());
    EXPECT_TRUE(r["serial"].IsNull());
    EXPECT_EQ(r["driverVersion"].string, "1.23");
    EXPECT_TRUE(r["firmwareVersion"].IsNull());
    const minijson::Value& card = r["card"];
    EXPECT_EQ(card.Keys(),
              (std::vector<std::string>{"state", "atr", "convention", "protocols", "fi", "di",
                                        "historical", "atrValid", "atrProblem"}));
    EXPECT_EQ(card["state"].string, "present");
    EXPECT_EQ(card["fi"].number, 372);
    EXPECT_EQ(card["di"].number, 4);
    EXPECT_EQ(card["protocols"].size(), 0u);
    EXPECT_FALSE(card["atrValid"].boolean);
    EXPECT_EQ(card["atrProblem"].string, "ATR tronqué");

    EXPECT_EQ(checks[1]["id"].string, "com");
    EXPECT_EQ(checks[1]["ports"][0]["port"].string, "COM3");
    EXPECT_EQ(checks[1]["ports"][0]["device"].string, "\\Device\\USBSER000");
    EXPECT_EQ(checks[1]["error"].string, "La valeur n'est pas un texte");

    const minijson::Value& d = checks[2];
    EXPECT_EQ(d["title"].string, "Lecteurs PC/SC (sans ScardSvr)");
    EXPECT_EQ(d["pieces"][1]["text"].string,
              "Erreur (-2146435043) : The Smart card resource manager is not running.");
    EXPECT_EQ(d["codes"].Keys(), std::vector<std::string>{"establish"})
        << "the listing was not called";
    EXPECT_EQ(d["codes"]["establish"].number, -2146435043.0);
    EXPECT_EQ(d["readers"].size(), 0u);
    EXPECT_FALSE(d.Has("error"));

    const minijson::Value& diagnosis = doc["diagnosis"];
    ASSERT_EQ(diagnosis.size(), 2u);
    EXPECT_EQ(diagnosis[0].Keys(),
              (std::vector<std::string>{"check", "status", "summary", "advice"}));
    EXPECT_EQ(diagnosis[0]["check"].string, "com");
    EXPECT_EQ(diagnosis[0]["status"].string, "warning");
    EXPECT_EQ(diagnosis[0]["advice"][0].string, "rebrancher");
    EXPECT_EQ(diagnosis[1]["check"].string, "direct");
    EXPECT_EQ(diagnosis[1]["status"].string, "ok");
    EXPECT_FALSE(diagnosis[1].Has("advice")) << "nothing to do";

    // Without --details a reader is only its name.
    const minijson::Value plain = minijson::Parse(JsonDocument({service}, false, {}));
    EXPECT_EQ(plain["checks"][0]["readers"][0].Keys(), std::vector<std::string>{"name"});
}

TEST(CliText, PlainTextIsThePaneTextWithEachCrLfALineEnd) {
    StringOutput out;
    TextPrinter printer(out, false);
    CheckOutcome direct;
    direct.id = CheckId::Direct;
    direct.pieces = {{u"Erreur lors de la connexion à la DLL\r\n", kBold, kRed},
                     {u"Erreur (-2146435043) : The Smart card resource manager is not running.",
                      kPlain, kBlack}};
    CheckOutcome serial;
    serial.id = CheckId::Serial;
    serial.pieces = {
        {u"a", kPlain, kBlack}, {u"b\r", kPlain, kBlack}, {u"\nc\nd\r\n", kPlain, kBlack}};
    printer.Check(direct, false);
    printer.Check(serial, false);
    EXPECT_EQ(out.Text(),
              "== Lecteurs PC/SC (sans ScardSvr) ==\n"
              "Erreur lors de la connexion à la DLL\n"
              "Erreur (-2146435043) : The Smart card resource manager is not running.\n"
              "\n"
              "== Lecteurs COM (GALSS) ==\n"
              "ab\n"
              "c\n"
              "d\n");
}

TEST(CliText, ControlCharactersCannotActOnTheTerminal) {
    StringOutput out;
    TextPrinter printer(out, false);
    printer.Line(u"Lecteur \x1b[2J\x07 fin\tonglet");
    printer.Line(u"\x85 C1");
    EXPECT_EQ(out.Text(), "Lecteur \xEF\xBF\xBD[2J\xEF\xBF\xBD fin\tonglet\n\xEF\xBF\xBD C1\n");
}

TEST(CliText, ColoursAreAnsiAttributesPerPieceAndResetBeforeEachLineEnd) {
    EXPECT_EQ(AnsiAttributes(kPlain, kBlack), "");
    EXPECT_EQ(AnsiAttributes(kBold, kRed), "\x1b[1;31m");
    EXPECT_EQ(AnsiAttributes(kBold, kGreen), "\x1b[1;32m");
    EXPECT_EQ(AnsiAttributes(kUnderline, kBlack), "\x1b[4m");
    EXPECT_EQ(AnsiAttributes(checks::Style{.italic = true, .strikeOut = true}, 0x00563412),
              "\x1b[3;9;38;2;18;52;86m");

    StringOutput out;
    TextPrinter printer(out, true);
    CheckOutcome service;
    service.id = CheckId::Service;
    service.pieces = {{u"Connecté au service\r\n", kBold, kGreen},
                      {u"Liste des lecteurs :\r\n", kUnderline, kBlack},
                      {u"Lecteur A\r\n", kPlain, kBlack},
                      {u"Erreur\r\nsuite", kBold, kRed}};
    printer.Check(service, false);
    EXPECT_EQ(out.Text(),
              "\x1b[1m== Lecteurs PC/SC ==\x1b[0m\n"
              "\x1b[1;32mConnecté au service\x1b[0m\n"
              "\x1b[4mListe des lecteurs :\x1b[0m\n"
              "Lecteur A\n"
              "\x1b[1;31mErreur\x1b[0m\n"
              "\x1b[1;31msuite\x1b[0m\n");
}

TEST(CliText, DetailsGoUnderTheirReaderAndUnreadValuesShowAsADash) {
    StringOutput out;
    TextPrinter printer(out, false);
    CheckOutcome service;
    service.id = CheckId::Service;
    service.pieces = {{u"Liste des lecteurs :\r\n", kUnderline, kBlack},
                      {u"A\r\n", kPlain, kBlack},
                      {u"B\r\n", kPlain, kBlack}};
    ReaderDetails a{u"A (USB)", u"ACME", u"SN-1", "1.23", "2.5"};
    service.readers = {{u"A", 1, a}, {u"B", 2, std::nullopt}};
    service.readers[0].card = CardSeen{pcsc::TCardState::csAvailable, {0x3B, 0x02, 0x14, 0x50}};
    printer.Check(service, true);
    EXPECT_EQ(out.Text(),
              "== Lecteurs PC/SC ==\n"
              "Liste des lecteurs :\n"
              "A\n"
              "  Nom affiché : A (USB)\n"
              "  Fabricant : ACME\n"
              "  Numéro de série : SN-1\n"
              "  Version du pilote : 1.23\n"
              "  Version du micrologiciel : 2.5\n"
              "  Carte : présente (ATR 3B 02 14 50, T=0)\n"
              "B\n"
              "  Nom affiché : -\n"
              "  Fabricant : -\n"
              "  Numéro de série : -\n"
              "  Version du pilote : -\n"
              "  Version du micrologiciel : -\n"
              "  Carte : état inconnu\n");
}

TEST(CliExitStatus, FirstMatchingRule) {
    Options all = ParseArguments({});
    Options comOnly = ParseArguments({"--check", "com"});
    Options comAndPcsc = ParseArguments({"--check", "com,pcsc"});

    CheckOutcome found;
    found.id = CheckId::Service;
    found.readers = {{u"R", 0, {}}};
    CheckOutcome none;
    none.id = CheckId::Service;
    CheckOutcome down;
    down.id = CheckId::Direct;
    down.unreachable = true;
    CheckOutcome directFound;
    directFound.id = CheckId::Direct;
    directFound.readers = {{u"R", 0, {}}};
    CheckOutcome port;
    port.id = CheckId::Serial;
    port.ports = {{u"/dev/ttyACM0", u"1-1:1.0"}};
    CheckOutcome stopped;
    stopped.id = CheckId::Serial;
    stopped.error = "erreur";

    EXPECT_EQ(ExitStatus(all, {found, stopped, down}), kExitCheckError) << "an error comes first";
    EXPECT_EQ(ExitStatus(all, {found, port, down}), kExitReaderFound)
        << "a reader beats an unreachable check";
    EXPECT_EQ(ExitStatus(all, {none, port, directFound}), kExitReaderFound);
    EXPECT_EQ(ExitStatus(all, {none, port, down}), kExitUnreachable)
        << "a port counts only with com alone";
    EXPECT_EQ(ExitStatus(comOnly, {port}), kExitReaderFound);
    CheckOutcome noPort;
    noPort.id = CheckId::Serial;
    CheckOutcome noDirect;
    noDirect.id = CheckId::Direct;
    EXPECT_EQ(ExitStatus(comOnly, {noPort}), kExitNothingFound);
    EXPECT_EQ(ExitStatus(comAndPcsc, {none, port}), kExitNothingFound);
    EXPECT_EQ(ExitStatus(all, {none, noPort, noDirect}), kExitNothingFound);
}
