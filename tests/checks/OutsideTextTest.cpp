// Texts that come from outside (a reader's name, a registry value) cannot
// forge or reorder a report line in any check: each
// line shows them with U+FFFD in place of what would break or reorder it,
// while the data the checks return keeps them exact.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "FakePcscClient.h"
#include "MemoryRegistry.h"
#include "PanePrinting.h"
#include "checks/SerialCheck.h"
#include "checks/ServiceCheck.h"
#include "checks/ShownText.h"
#include "checks/safeModule.h"
#include "pcsc/MainThread.h"

using namespace checks;
using pcsc::Utf16ToUtf8;

namespace {

constexpr char16_t R = 0xFFFD;

struct Outside {
    const char* what;
    std::u16string text;
    std::u16string shown;
};

// What a driver, a registry or a file name may hold, and how a line shows it.
const std::vector<Outside> kOutside{
    {"a heading and a line of another check", u"\n== Lecteurs COM (GALSS) ==\nPorts série",
     std::u16string{R} + u"== Lecteurs COM (GALSS) ==" + R + u"Ports série"},
    {"a --watch event after CR LF", u"\r\n11:15:00.123  Carte insérée : X",
     std::u16string{R, R} + u"11:15:00.123  Carte insérée : X"},
    {"C1 next line, DEL, escape", u"a\u0085b\u007Fc\u001B[31m",
     std::u16string{u'a', R, u'b', R, u'c', R} + u"[31m"},
    {"line and paragraph separators", u"a\u2028b\u2029c", std::u16string{u'a', R, u'b', R, u'c'}},
    {"bidirectional overrides", u"\u202Aa\u202Bb\u202Cc\u202Dd\u202Ee",
     std::u16string{R, u'a', R, u'b', R, u'c', R, u'd', R, u'e'}},
    {"bidirectional isolates", u"\u2066a\u2067b\u2068c\u2069",
     std::u16string{R, u'a', R, u'b', R, u'c', R}},
    {"what stays: tab, accents, symbols, emoji", u"\tdéjà € \U0001F4B3", u"\tdéjà € \U0001F4B3"},
};

std::u16string Line(const std::u16string& text) {
    return text + u"\r\n";
}

class OutsideTexts : public ::testing::Test {
protected:
    OutsideTexts() : lib(FAKE_PCSC_PATH) { pcsc::SetMainThread(&loop); }
    ~OutsideTexts() override {
        service.Stop();
        pcsc::SetMainThread(nullptr);
    }

    fake::Library lib;
    pcsc::PlainMainLoop loop;
    RecordingPane servicePane;
    ServiceCheck service{servicePane};
};

}  // namespace

TEST_F(OutsideTexts, NeverBreakNorReorderALineOfAnyCheck) {
    std::vector<std::u16string> names;
    std::vector<ReportPiece> serviceLines{{u"Connecté au service\r\n", kBold, kGreen},
                                          {u"Liste des lecteurs :\r\n", kUnderline, kBlack}};
    for (std::size_t i = 0; i < kOutside.size(); ++i) {
        const Outside& o = kOutside[i];
        SCOPED_TRACE(o.what);
        EXPECT_EQ(ShownText(o.text), o.shown);
        const std::u16string name =
            u"L" + std::u16string(1, u'0' + static_cast<char16_t>(i)) + u" " + o.text;
        names.push_back(name);
        serviceLines.push_back({Line(ShownText(name)), kPlain, kBlack});

        // The serial ports of the registry (Windows): value name and data.
        MemoryRegistry registry;
        const std::u16string device = u"\\Device\\USBSER" + o.text;
        registry.SetValue(RegistryRoot::LocalMachine, kSerialCommKey,
                          MemoryRegistry::Text(device, u"COM" + o.text));
        RecordingPane serialPane;
        const SerialCheckResult serial = RunSerialCheck(serialPane, registry);
        EXPECT_EQ(serialPane.Pieces().back(),
                  (ReportPiece{Line(u"COM" + o.shown + u" : \\Device\\USBSER" + o.shown), kPlain,
                               kBlack}));
        ASSERT_EQ(serial.ports.size(), 1u);
        EXPECT_EQ(serial.ports[0].device, device) << "the data keeps the name exact";
        // A value that is not text names itself in a message box and on stderr.
        EXPECT_EQ(RegistryValueNotText(device, kRegDword).what(),
                  "La valeur de registre '\\Device\\USBSER" + Utf16ToUtf8(o.shown) +
                      "' n'est pas du texte (type 4)");

#if !defined(_WIN32)
        // The direct check, one reader at a time: its buffer holds 256 bytes.
        // (On Windows it lists in the ANSI code page, which has none of these.)
        lib.AddReader(Utf16ToUtf8(name));
        RecordingPane directPane;
        pcsc::StringList hidden;
        const DirectCheckResult listed = RunDirectCheck(directPane, hidden);
        lib.RemoveReader(Utf16ToUtf8(name));
        EXPECT_EQ(directPane.Pieces().back(), (ReportPiece{Line(ShownText(name)), kPlain, kBlack}));
        EXPECT_EQ(listed.names, pcsc::StringList{name});
#endif
    }

    // The service check, all readers in one listing.
    for (const std::u16string& name : names) lib.AddReader(Utf16ToUtf8(name));
    service.btn_configClick();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    loop.RunUntil([&] { return servicePane.Pieces().size() >= serviceLines.size(); }, deadline);
    EXPECT_EQ(servicePane.Pieces(), serviceLines);
}
