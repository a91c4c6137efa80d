// The serial-port check over a registry held in memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MemoryRegistry.h"
#include "PanePrinting.h"
#include "checks/SerialCheck.h"

using namespace checks;

namespace {

constexpr auto HKLM = RegistryRoot::LocalMachine;
const std::u16string kKey = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";

const ReportPiece kKeyFound{u"Clé de registre trouvée\r\n", kBold, kGreen};
const ReportPiece kListTitle{u"Liste des ports COM :\r\n", kUnderline, kBlack};
const ReportPiece kKeyMissing{u"La clé de registre est introuvable\r\n", kBold, kRed};

}  // namespace

TEST(SerialCheck, ListsTheUsbDevicesInEnumerationOrder) {
    MemoryRegistry registry;
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\Serial0", u"COM1"));
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\USBSER000", u"COM3"));
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\device\\usbser001", u"COM4"));
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\UsbSer002", u"COM5"));
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\USBPDO-5", u"COM7"));
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\US", u"COM8"));
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\USB", u"COM9"));
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\USBSER", u"COM10"));
    RecordingPane pane;

    const SerialCheckResult result = RunSerialCheck(pane, registry);

    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{kKeyFound, kListTitle, Entry(u"COM3 : \\Device\\USBSER000"),
                                        Entry(u"COM7 : \\Device\\USBPDO-5"),
                                        Entry(u"COM9 : \\Device\\USB"),
                                        Entry(u"COM10 : \\Device\\USBSER")}));
    EXPECT_TRUE(result.declared);
    EXPECT_EQ(result.ports, (std::vector<SerialPort>{{u"COM3", u"\\Device\\USBSER000"},
                                                     {u"COM7", u"\\Device\\USBPDO-5"},
                                                     {u"COM9", u"\\Device\\USB"},
                                                     {u"COM10", u"\\Device\\USBSER"}}));
    EXPECT_EQ(registry.Root(), HKLM);
    EXPECT_FALSE(registry.HasOpenKey());
}

TEST(SerialCheck, MissingKeyWritesOnlyTheFailureLine) {
    MemoryRegistry registry;
    RecordingPane pane;
    SerialCheckResult result = RunSerialCheck(pane, registry);
    EXPECT_EQ(pane.Pieces(), std::vector<ReportPiece>{kKeyMissing});
    EXPECT_FALSE(result.declared);

    // The key under the current user's root is not the machine's.
    registry.SetValue(RegistryRoot::CurrentUser, kKey,
                      MemoryRegistry::Text(u"\\Device\\USBSER000", u"COM3"));
    result = RunSerialCheck(pane, registry);
    EXPECT_EQ(pane.Pieces(), std::vector<ReportPiece>{kKeyMissing});
    EXPECT_TRUE(result.ports.empty());
    EXPECT_FALSE(registry.HasOpenKey());
}

TEST(SerialCheck, KeyThatCannotBeOpenedGivesTheHeadingsAlone) {
    MemoryRegistry registry;
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\USBSER000", u"COM3"));
    registry.DenyReadOnlyOpen(HKLM, kKey);
    RecordingPane pane;

    const SerialCheckResult result = RunSerialCheck(pane, registry);

    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kKeyFound, kListTitle}));
    EXPECT_TRUE(result.ports.empty());
}

TEST(SerialCheck, ValueThatIsNotTextStopsTheRunWithAnErrorNamingIt) {
    MemoryRegistry registry;
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\USBSER000", u"COM3"));
    registry.SetValue(HKLM, kKey,
                      MemoryRegistry::Raw(u"\\Device\\USBSER001", kRegDword, {5, 0, 0, 0}));
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\USBSER002", u"COM6"));
    RecordingPane pane;

    try {
        RunSerialCheck(pane, registry);
        FAIL() << "a DWORD value read as text must throw";
    } catch (const RegistryValueNotText& error) {
        EXPECT_EQ(error.ValueName(), u"\\Device\\USBSER001");
        EXPECT_EQ(error.Type(), kRegDword);
        EXPECT_NE(std::string(error.what()).find("\\Device\\USBSER001"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kKeyFound, kListTitle,
                                                       Entry(u"COM3 : \\Device\\USBSER000")}));
    EXPECT_FALSE(registry.HasOpenKey()) << "the key is closed on the way out";

    // The next run starts afresh and reads the key again.
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\USBSER001", u"COM4"));
    const SerialCheckResult result = RunSerialCheck(pane, registry);
    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{kKeyFound, kListTitle, Entry(u"COM3 : \\Device\\USBSER000"),
                                        Entry(u"COM4 : \\Device\\USBSER001"),
                                        Entry(u"COM6 : \\Device\\USBSER002")}));
    EXPECT_EQ(result.ports.size(), 3u);
}

TEST(SerialCheck, ValueDataIsReadAsTextUpToItsFirstNul) {
    MemoryRegistry registry;
    registry.SetValue(HKLM, kKey, MemoryRegistry::Raw(u"\\Device\\USBSER000", kRegSz, {}));
    registry.SetValue(HKLM, kKey, MemoryRegistry::Raw(u"\\Device\\USBSER001", kRegDword, {}));
    registry.SetValue(HKLM, kKey,
                      MemoryRegistry::Text(u"\\Device\\USBSER002", u"%SystemRoot%", kRegExpandSz));
    registry.SetValue(
        HKLM, kKey, MemoryRegistry::Text(u"\\Device\\USBSER003", std::u16string(u"COM5\0junk", 9)));
    // No final NUL, and an odd byte left over.
    registry.SetValue(
        HKLM, kKey,
        MemoryRegistry::Raw(u"\\Device\\USBSER004", kRegSz, {'C', 0, 'O', 0, 'M', 0, '6', 0, 'x'}));
    RecordingPane pane;

    RunSerialCheck(pane, registry);

    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{
                  kKeyFound, kListTitle, Entry(u" : \\Device\\USBSER000"),
                  Entry(u" : \\Device\\USBSER001"), Entry(u"%SystemRoot% : \\Device\\USBSER002"),
                  Entry(u"COM5 : \\Device\\USBSER003"), Entry(u"COM6 : \\Device\\USBSER004")}));
}

TEST(SerialCheck, OnlyTextTypesWithDataAreText) {
    const std::vector<std::uint8_t> data{'C', 0, 'O', 0, 'M', 0, '1', 0, 0, 0};
    for (std::uint32_t type : {kRegNone, kRegBinary, kRegDword, kRegMultiSz}) {
        EXPECT_THROW(RegistryDataToText(u"v", type, data.data(), data.size()), RegistryValueNotText)
            << "type " << type;
        EXPECT_EQ(RegistryDataToText(u"v", type, data.data(), 0), u"") << "type " << type;
    }
    EXPECT_EQ(RegistryDataToText(u"v", kRegSz, data.data(), data.size()), u"COM1");
    EXPECT_EQ(RegistryDataToText(u"v", kRegExpandSz, data.data(), data.size()), u"COM1");
}

TEST(SerialCheck, ASecondRunReplacesTheFirstReport) {
    MemoryRegistry registry;
    registry.SetValue(HKLM, kKey, MemoryRegistry::Text(u"\\Device\\USBSER000", u"COM3"));
    RecordingPane pane;

    RunSerialCheck(pane, registry);
    const std::vector<ReportPiece> first = pane.Pieces();
    RunSerialCheck(pane, registry);
    EXPECT_EQ(pane.Pieces(), first);
    EXPECT_EQ(first.size(), 3u);

    registry.DeleteKey(HKLM, kKey);
    RunSerialCheck(pane, registry);
    EXPECT_EQ(pane.Pieces(), std::vector<ReportPiece>{kKeyMissing});
}
