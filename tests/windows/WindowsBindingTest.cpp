// The binding on Windows: winscard.dll's wide entry points, its records and
// texts passed as they are, the library taken from the system directory.
// Against the fake winscard.dll (it can do what Wine's cannot) and, for
// where the library comes from, against the system's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>
#include <vector>

#include "FakePcscClient.h"
#include "WinscardLayout.h"
#include "pcsc/PCSC.h"
#include "pcsc/platform/Platform.h"

using namespace pcsc;

namespace {

const std::string kFake = FAKE_PCSC_PATH;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

Handle Establish(TPCSCRaw& raw) {
    Handle context = 0;
    EXPECT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context),
              SCARD_S_SUCCESS);
    return context;
}

}  // namespace

TEST(WindowsBinding, ValuesAreWindowsOwn) {
    EXPECT_EQ(SCARD_E_UNSUPPORTED_FEATURE, 0x80100022u);
    EXPECT_EQ(SCARD_PROTOCOL_RAW, 0x00010000u);
    EXPECT_EQ(platform::kMaxAtrSize, 36u);
    // Windows' layouts on x64 and on x86: pointers and handles as wide as
    // the processor's.
    struct Layout {
        std::size_t readerState, atrAt, handle;
    };
    constexpr Layout kLayout = sizeof(void*) == 8 ? Layout{64, 28, 8} : Layout{56, 20, 4};
    EXPECT_EQ(sizeof(TSCardReaderStateA), kLayout.readerState);
    EXPECT_EQ(offsetof(TSCardReaderStateA, rgbAtr), kLayout.atrAt);
    EXPECT_EQ(sizeof(Handle), kLayout.handle);
    EXPECT_EQ(sizeof(TSCardIoRequest), 8u);
    TPCSCRaw raw;
    EXPECT_EQ(raw.SCardCTLCode(2049), 0x00312004u);
    EXPECT_EQ(raw.SCardCTLCode(0), 0x00310000u);
}

TEST(WindowsBinding, TheSystemLibraryComesFromTheSystemDirectory) {
    const std::string expected = Lower(layout::SystemDirectory() + "\\winscard.dll");
    EXPECT_EQ(Lower(platform::SmartCardLibraryPath()), expected);
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize()) << platform::LastLoadError();
    EXPECT_EQ(Lower(layout::ModulePath(raw.hWinSCard())), expected);
    EXPECT_TRUE(raw.Shutdown());
}

TEST(WindowsBinding, AnOverrideThatCannotBeLoadedIsReported) {
    setenv("VARDEL_PCSC_LIBRARY", "C:\\nowhere\\winscard-missing.dll", 1);
    TPCSCRaw raw;
    EXPECT_FALSE(raw.Initialize());
    unsetenv("VARDEL_PCSC_LIBRARY");
    EXPECT_FALSE(raw.Valid());
    EXPECT_NE(platform::LastLoadError().find("winscard-missing.dll"), std::string::npos)
        << platform::LastLoadError();
    Handle context = 7;
    EXPECT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, context),
              SCARD_E_UNSUPPORTED_FEATURE);
    EXPECT_EQ(context, 7u);
}

TEST(WindowsBinding, TheSmartCardDatabaseEntryPointsAreBound) {
    fake::Library lib(kFake);
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    const Handle context = Establish(raw);
    TSCardReaderStateA state{u"R"};
    std::uint32_t size = 0;
    std::uint8_t guid[16] = {};
    // Windows exports them: they answer the fake's "no such card", not the
    // binding's "unsupported".
    EXPECT_EQ(raw.SCardLocateCards(context, u"carte\0", &state, 1), SCARD_E_UNKNOWN_CARD);
    EXPECT_EQ(lib.LastText("SCardLocateCardsW"), "carte");
    EXPECT_EQ(raw.SCardListCards(context, nullptr, nullptr, 0, nullptr, size),
              SCARD_E_UNKNOWN_CARD);
    EXPECT_EQ(raw.SCardListInterfaces(context, u"carte", nullptr, size), SCARD_E_UNKNOWN_CARD);
    EXPECT_EQ(raw.SCardGetProviderId(context, u"carte", guid), SCARD_E_UNKNOWN_CARD);
    EXPECT_EQ(lib.Calls("SCardLocateCardsW"), 1);
    EXPECT_EQ(lib.Calls("SCardListCardsW"), 1);
    EXPECT_EQ(lib.Calls("SCardListInterfacesW"), 1);
    EXPECT_EQ(lib.Calls("SCardGetProviderIdW"), 1);
    EXPECT_EQ(raw.SCardIsValidContext(context), SCARD_E_UNSUPPORTED_FEATURE) << "never bound";
    EXPECT_EQ(lib.Calls("SCardIsValidContext"), 0);
    EXPECT_EQ(raw.SCardReleaseContext(context), SCARD_S_SUCCESS);
}

TEST(WindowsBinding, TextsGoAsUtf16WithSizesInCharacters) {
    fake::Library lib(kFake);
    lib.AddReader("Lecteur \xC3\xA9");
    lib.AddReader("card \xF0\x9F\x92\xB3");
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    const Handle context = Establish(raw);
    const std::u16string expected(u"Lecteur \u00E9\0card \U0001F4B3\0\0", 19);

    std::uint32_t size = 0;
    ASSERT_EQ(raw.SCardListReaders(context, nullptr, nullptr, size), SCARD_S_SUCCESS);
    EXPECT_EQ(size, expected.size()) << "Windows' own count, both final NULs included";
    std::u16string buffer(size, u'#');
    ASSERT_EQ(raw.SCardListReaders(context, nullptr, buffer.data(), size), SCARD_S_SUCCESS);
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(lib.Calls("SCardListReadersW"), 2);
    EXPECT_EQ(lib.Calls("SCardListReadersA"), 0) << "no 8-bit entry point is bound";

    std::u16string small(4, u'#');
    std::uint32_t got = 4;
    EXPECT_EQ(raw.SCardListReaders(context, nullptr, small.data(), got),
              SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(got, expected.size());
    EXPECT_EQ(small, u"####");

    lib.SetReaderState("Lecteur \xC3\xA9", SCARD_STATE_PRESENT, {0x3B, 0x00});
    Handle card = kNoCardHandle;
    std::uint32_t active = 0;
    ASSERT_EQ(raw.SCardConnect(context, u"Lecteur \u00E9", SCARD_SHARE_SHARED,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card, active),
              SCARD_S_SUCCESS);
    EXPECT_EQ(lib.LastText("SCardConnectW"), "Lecteur \xC3\xA9");
    char16_t name[32];
    std::uint32_t nameLength = 32, state = 0, protocol = 0, atrLength = 36;
    std::uint8_t atr[36];
    ASSERT_EQ(raw.SCardStatus(card, name, nameLength, state, protocol, atr, atrLength),
              SCARD_S_SUCCESS);
    EXPECT_EQ(std::u16string(name, nameLength), std::u16string(u"Lecteur \u00E9\0\0", 11));
    EXPECT_EQ(atrLength, 2u);
    EXPECT_EQ(raw.SCardDisconnect(card, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(raw.SCardReleaseContext(context), SCARD_S_SUCCESS);
}

TEST(WindowsBinding, RecordsGoAsTheyAre) {
    fake::Library lib(kFake);
    lib.AddReader("R");
    std::vector<unsigned char> atr(36);
    for (std::size_t i = 0; i < atr.size(); ++i) atr[i] = static_cast<unsigned char>(0xA0 + i);
    lib.SetReaderState("R", SCARD_STATE_PRESENT, atr);
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    const Handle context = Establish(raw);

    // The whole 36-byte ATR of Windows' record, the event count untouched.
    TSCardReaderStateA states[2] = {{u"R"}, {u"\\\\?PnP?\\Notification"}};
    ASSERT_EQ(raw.SCardGetStatusChange(context, 1, states, 2), SCARD_S_SUCCESS);
    EXPECT_EQ(states[0].dwEventState & 0xFFFF, SCARD_STATE_PRESENT | SCARD_STATE_CHANGED);
    EXPECT_EQ(states[0].dwEventState >> 16, 1u);
    ASSERT_EQ(states[0].cbAtr, 36u);
    EXPECT_TRUE(std::equal(atr.begin(), atr.end(), states[0].rgbAtr));
    EXPECT_EQ(lib.LastArg("SCardGetStatusChangeW", 3), 2u);

    Handle card = kNoCardHandle;
    std::uint32_t active = 0;
    ASSERT_EQ(raw.SCardConnect(context, u"R", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, card, active),
              SCARD_S_SUCCESS);
    const std::uint8_t apdu[] = {0x00, 0x84, 0x00, 0x00, 0x08};
    std::uint8_t reply[16];
    std::uint32_t replyLength = sizeof reply;
    ASSERT_EQ(raw.SCardTransmit(card, SCARD_PCI_T1, apdu, sizeof apdu, nullptr, reply, replyLength),
              SCARD_S_SUCCESS);
    EXPECT_EQ(lib.LastArg("SCardTransmit", 1), SCARD_PROTOCOL_T1);
    EXPECT_EQ(lib.LastArg("SCardTransmit", 2), 8u) << "Windows' header counts 8 bytes";
    EXPECT_EQ(lib.LastArg("SCardTransmit", 3), sizeof apdu);
    EXPECT_EQ(replyLength, 2u);

    std::uint32_t returned = 0;
    std::uint8_t control[12];
    lib.SetControlReply("R", {1, 2, 3});
    ASSERT_EQ(raw.SCardControl(card, raw.SCardCTLCode(2049), nullptr, 0, control, sizeof control,
                               returned),
              SCARD_S_SUCCESS);
    EXPECT_EQ(lib.LastArg("SCardControl", 1), 0x00312004u);
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(raw.SCardDisconnect(card, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(raw.SCardReleaseContext(context), SCARD_S_SUCCESS);
}

TEST(WindowsText, AnsiNamesGoThroughTheAnsiCodePage) {
    if (layout::AnsiCodePage() != 1252) GTEST_SKIP() << "code page " << layout::AnsiCodePage();
    EXPECT_EQ(pcsc::AnsiToUtf16("Lecteur \xE9\x80"), u"Lecteur \u00E9\u20AC");
    EXPECT_EQ(pcsc::AnsiToUtf16(""), u"");
}
