// The binding's states and its conversions to pcsc-lite, against the fake
// smart-card library (it can lack entry points and return what the real
// service never does).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "FakePcscClient.h"
#include "pcsc/PCSC.h"
#include "pcsc/platform/Platform.h"

using namespace pcsc;

namespace {

const std::string kFake = FAKE_PCSC_PATH;
const std::string kFakeNoStatus = FAKE_PCSC_NOSTATUS_PATH;
const std::string kFakeNoGetStatusChange = FAKE_PCSC_NOGETSTATUSCHANGE_PATH;

// Points the binding at a library without holding it loaded ourselves, so
// that the tests can see when the binding releases it.
using fake::LibraryOverride;

Handle Establish(TPCSCRaw& raw) {
    Handle context = 0;
    EXPECT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context),
              SCARD_S_SUCCESS);
    return context;
}

}  // namespace

TEST(BindingStates, NewBindingCallsNothing) {
    TPCSCRaw raw;
    EXPECT_FALSE(raw.Valid());
    EXPECT_EQ(raw.hWinSCard(), 0u);
    Handle context = 0x1234;
    EXPECT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context),
              SCARD_E_UNSUPPORTED_FEATURE);
    EXPECT_EQ(context, 0x1234u) << "the result variable is not touched";
    EXPECT_EQ(raw.SCardCTLCode(2049), platform::SmartCardCtlCode(2049));
    EXPECT_FALSE(raw.Shutdown());
}

TEST(BindingStates, LibraryThatCannotBeLoaded) {
    LibraryOverride override("/nonexistent/libpcsclite-missing.so");
    TPCSCRaw raw;
    EXPECT_FALSE(raw.Initialize());
    EXPECT_FALSE(raw.Valid());
    EXPECT_EQ(raw.hWinSCard(), 0u);
    EXPECT_NE(platform::LastLoadError(), "");
    std::uint32_t size = 0;
    EXPECT_EQ(raw.SCardListReaders(0, nullptr, nullptr, size), SCARD_E_UNSUPPORTED_FEATURE);
}

TEST(BindingStates, BoundThenReleasedOnce) {
    LibraryOverride override(kFake);
    ASSERT_FALSE(fake::IsLoaded(kFake));
    {
        TPCSCRaw raw;
        ASSERT_TRUE(raw.Initialize());
        EXPECT_TRUE(raw.Valid());
        EXPECT_NE(raw.hWinSCard(), 0u);
        EXPECT_TRUE(fake::IsLoaded(kFake));
        EXPECT_EQ(raw.SCardIsValidContext(0), SCARD_E_UNSUPPORTED_FEATURE) << "never bound";

        const Handle context = Establish(raw);
        EXPECT_NE(context, 0u);
        EXPECT_EQ(raw.SCardReleaseContext(context), SCARD_S_SUCCESS);

        EXPECT_TRUE(raw.Shutdown());
        EXPECT_FALSE(raw.Valid());
        EXPECT_EQ(raw.hWinSCard(), 0u);
        EXPECT_FALSE(fake::IsLoaded(kFake));
        EXPECT_FALSE(raw.Shutdown()) << "second shutdown releases nothing";
        Handle after = 7;
        EXPECT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, after),
                  SCARD_E_UNSUPPORTED_FEATURE);
        EXPECT_EQ(after, 7u);
    }
    {
        TPCSCRaw raw;
        ASSERT_TRUE(raw.Initialize());
        EXPECT_TRUE(fake::IsLoaded(kFake));
    }
    EXPECT_FALSE(fake::IsLoaded(kFake)) << "freeing a bound binding releases the library";
}

TEST(BindingStates, MissingRequiredEntryPointLeavesNothingLoaded) {
    LibraryOverride override(kFakeNoStatus);
    TPCSCRaw raw;
    EXPECT_FALSE(raw.Initialize());
    EXPECT_FALSE(raw.Valid());
    EXPECT_EQ(raw.hWinSCard(), 0u);
    EXPECT_FALSE(fake::IsLoaded(kFakeNoStatus)) << "an incomplete library is not kept loaded";
    Handle context = 0;
    EXPECT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context),
              SCARD_E_UNSUPPORTED_FEATURE)
        << "found entry points are not called either";
    EXPECT_FALSE(raw.Shutdown());
}

TEST(BindingStates, MissingOptionalEntryPointOnlyAffectsItsWrapper) {
    fake::Library lib(kFakeNoGetStatusChange);
    lib.AddReader("R");
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    const Handle context = Establish(raw);
    TSCardReaderStateA state{u"R"};
    EXPECT_EQ(raw.SCardGetStatusChange(context, 0, &state, 1), SCARD_E_UNSUPPORTED_FEATURE);
    std::uint32_t size = 0;
    EXPECT_EQ(raw.SCardListReaders(context, nullptr, nullptr, size), SCARD_S_SUCCESS);
    EXPECT_EQ(raw.SCardReleaseContext(context), SCARD_S_SUCCESS);
}

TEST(BindingStates, EntryPointsPcscLiteDoesNotExport) {
    fake::Library lib(kFake);
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    const Handle context = Establish(raw);
    TSCardReaderStateA state{u"R"};
    std::uint32_t size = 0;
    std::uint8_t guid[16] = {};
    EXPECT_EQ(raw.SCardLocateCards(context, u"card\0", &state, 1), SCARD_E_UNSUPPORTED_FEATURE);
    EXPECT_EQ(raw.SCardListCards(context, nullptr, nullptr, 0, nullptr, size),
              SCARD_E_UNSUPPORTED_FEATURE);
    EXPECT_EQ(raw.SCardListInterfaces(context, u"card", nullptr, size),
              SCARD_E_UNSUPPORTED_FEATURE);
    EXPECT_EQ(raw.SCardGetProviderId(context, u"card", guid), SCARD_E_UNSUPPORTED_FEATURE);
    // The optional ones pcsc-lite has are bound.
    EXPECT_EQ(raw.SCardCancel(context), SCARD_S_SUCCESS);
    EXPECT_EQ(raw.SCardFreeMemory(context, nullptr), SCARD_S_SUCCESS);
    char16_t groups[64];
    size = 64;
    EXPECT_EQ(raw.SCardListReaderGroups(context, groups, size), SCARD_S_SUCCESS);
    EXPECT_EQ(std::u16string(groups, size), std::u16string(u"SCard$DefaultReaders\0\0", 22));
}

TEST(BindingConversions, ReaderListInUtf16WithUtf16Sizes) {
    fake::Library lib(kFake);
    lib.AddReader("Lecteur \xC3\xA9");          // é: 2 UTF-8 bytes, 1 UTF-16 unit
    lib.AddReader("\xE4\xB8\xAD\xE6\x96\x87");  // 中文: 6 bytes, 2 units
    lib.AddReader("card \xF0\x9F\x92\xB3");     // emoji: 4 bytes, 2 units
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    const Handle context = Establish(raw);

    std::uint32_t size = 0;
    ASSERT_EQ(raw.SCardListReaders(context, nullptr, nullptr, size), SCARD_S_SUCCESS);
    const std::u16string expected(u"Lecteur \u00E9\0\u4E2D\u6587\0card \U0001F4B3\0\0", 22);
    EXPECT_GE(size, expected.size()) << "the first answer must be enough for the second call";

    std::u16string buffer(size, u'#');
    std::uint32_t got = size;
    ASSERT_EQ(raw.SCardListReaders(context, nullptr, buffer.data(), got), SCARD_S_SUCCESS);
    EXPECT_EQ(got, expected.size()) << "UTF-16 length with both final NULs";
    EXPECT_EQ(buffer.substr(0, got), expected);

    StringList names;
    EXPECT_TRUE(ReaderMultiStringToList(buffer.data(), static_cast<std::int32_t>(got), &names));
    EXPECT_EQ(names, (StringList{u"Lecteur \u00E9", u"\u4E2D\u6587", u"card \U0001F4B3"}));

    // Too small a buffer: nothing beyond it is written, the size needed comes back.
    std::u16string small(5, u'#');
    got = 4;
    EXPECT_EQ(raw.SCardListReaders(context, nullptr, small.data(), got),
              SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(got, expected.size());
    EXPECT_EQ(small, u"#####");
}

TEST(BindingConversions, ResultCodesAre32BitUnsigned) {
    fake::Library lib(kFake);
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    const Handle context = Establish(raw);
    std::uint32_t size = 0;
    // pcsc-lite's long codes are negative on 64 bits: they come back as the
    // 32-bit codes.
    EXPECT_EQ(raw.SCardListReaders(context, nullptr, nullptr, size), SCARD_E_NO_READERS_AVAILABLE);
    lib.ForceResult("SCardListReaders", static_cast<long>(static_cast<std::int32_t>(0x8010001E)),
                    1);
    EXPECT_EQ(raw.SCardListReaders(context, nullptr, nullptr, size), SCARD_E_SERVICE_STOPPED);
    lib.ForceResult("SCardListReaders", 109, 1);
    EXPECT_EQ(raw.SCardListReaders(context, nullptr, nullptr, size), ERROR_BROKEN_PIPE);
    lib.SetService(false);
    Handle other = 0;
    EXPECT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, other),
              SCARD_E_NO_SERVICE);
}

TEST(BindingConversions, ReaderStatesAcrossTheBoundary) {
    fake::Library lib(kFake);
    lib.AddReader("Lecteur \xC3\xA9");
    lib.AddReader("Empty");
    const std::vector<unsigned char> atr{0x3B, 0x95, 0x13, 0x81, 0x01, 0x80,
                                         0x73, 0xFF, 0x01, 0x00, 0x0B};
    lib.SetReaderState("Lecteur \xC3\xA9", SCARD_STATE_PRESENT, atr);
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    const Handle context = Establish(raw);

    TSCardReaderStateA states[2] = {{u"Lecteur \u00E9"}, {u"Empty"}};
    states[1].cbAtr = 36;  // garbage in: must not overflow pcsc-lite's 33-byte array
    ASSERT_EQ(raw.SCardGetStatusChange(context, 1, states, 2), SCARD_S_SUCCESS);
    EXPECT_EQ(states[0].dwEventState & 0xFFFF, SCARD_STATE_PRESENT | SCARD_STATE_CHANGED);
    EXPECT_EQ(states[0].dwEventState >> 16, 1u) << "the event count comes back untouched";
    ASSERT_EQ(states[0].cbAtr, atr.size());
    EXPECT_TRUE(std::equal(atr.begin(), atr.end(), states[0].rgbAtr));
    EXPECT_EQ(states[1].dwEventState & 0xFFFF, SCARD_STATE_EMPTY | SCARD_STATE_CHANGED);
    EXPECT_EQ(states[1].cbAtr, 0u);
    EXPECT_EQ(states[0].dwCurrentState, 0u) << "the caller's known state is not rewritten";

    // A 33-byte ATR, pcsc-lite's largest, arrives whole.
    std::vector<unsigned char> longAtr(33);
    for (std::size_t i = 0; i < longAtr.size(); ++i) longAtr[i] = static_cast<unsigned char>(i + 1);
    lib.SetReaderState("Empty", SCARD_STATE_PRESENT, longAtr);
    TSCardReaderStateA one{u"Empty"};
    ASSERT_EQ(raw.SCardGetStatusChange(context, 1, &one, 1), SCARD_S_SUCCESS);
    EXPECT_EQ(one.cbAtr, 33u);
    EXPECT_TRUE(std::equal(longAtr.begin(), longAtr.end(), one.rgbAtr));

    TSCardReaderStateA unknown{u"Nobody"};
    EXPECT_EQ(raw.SCardGetStatusChange(context, 1, &unknown, 1), SCARD_E_UNKNOWN_READER);
}

TEST(BindingConversions, CardCallsCarryTheirArguments) {
    fake::Library lib(kFake);
    lib.AddReader("R\xC3\xA9");
    lib.SetReaderState("R\xC3\xA9", SCARD_STATE_PRESENT, {0x3B, 0x00});
    lib.SetResponse("R\xC3\xA9", {0x01, 0x02, 0x90, 0x00});
    lib.SetAttrib("R\xC3\xA9", SCARD_ATTR_VENDOR_NAME, {'A', 'C', 'M', 'E', 0});
    lib.SetControlReply("R\xC3\xA9", {0, 0, 0, 0, 2, 5, 1, 3, 0, 0, 0, 0});
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    const Handle context = Establish(raw);

    Handle card = kNoCardHandle;
    std::uint32_t active = 0;
    ASSERT_EQ(raw.SCardConnect(context, u"R\u00E9", SCARD_SHARE_SHARED,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card, active),
              SCARD_S_SUCCESS);
    EXPECT_EQ(lib.LastText("SCardConnect"), "R\xC3\xA9") << "the name goes as UTF-8";
    EXPECT_EQ(active, SCARD_PROTOCOL_T1);
    EXPECT_NE(card, kNoCardHandle);

    const std::uint8_t select[] = {0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00};
    std::uint8_t reply[16];
    std::uint32_t replyLen = sizeof reply;
    ASSERT_EQ(
        raw.SCardTransmit(card, SCARD_PCI_T1, select, sizeof select, nullptr, reply, replyLen),
        SCARD_S_SUCCESS);
    EXPECT_EQ(replyLen, 4u);
    EXPECT_EQ(reply[2], 0x90);
    EXPECT_EQ(lib.LastArg("SCardTransmit", 1), SCARD_PROTOCOL_T1);
    EXPECT_EQ(lib.LastArg("SCardTransmit", 2), sizeof(platform::NativeIoRequest))
        << "the header length is pcsc-lite's";
    EXPECT_EQ(lib.LastArg("SCardTransmit", 3), sizeof select);
    EXPECT_EQ(lib.LastArg("SCardTransmit", 4), 0u) << "no receive header";

    std::uint8_t attr[256] = {};
    std::uint32_t attrLen = sizeof attr;
    ASSERT_EQ(raw.SCardGetAttrib(card, SCARD_ATTR_VENDOR_NAME, attr, attrLen), SCARD_S_SUCCESS);
    EXPECT_EQ(attrLen, 5u);
    EXPECT_STREQ(reinterpret_cast<const char*>(attr), "ACME");

    std::uint8_t control[12];
    std::uint32_t returned = 0;
    const std::uint32_t code = raw.SCardCTLCode(2049);
    ASSERT_EQ(raw.SCardControl(card, code, nullptr, 0, control, sizeof control, returned),
              SCARD_S_SUCCESS);
    EXPECT_EQ(returned, 12u);
    EXPECT_EQ(lib.LastArg("SCardControl", 1), code);
    EXPECT_EQ(control[4], 2);

    char16_t name[64];
    std::uint32_t nameLen = 64;
    std::uint32_t state = 0, protocol = 0;
    std::uint8_t atr[36];
    std::uint32_t atrLen = sizeof atr;
    ASSERT_EQ(raw.SCardStatus(card, name, nameLen, state, protocol, atr, atrLen), SCARD_S_SUCCESS);
    EXPECT_EQ(std::u16string(name, nameLen), std::u16string(u"R\u00E9\0", 3));
    EXPECT_EQ(protocol, SCARD_PROTOCOL_T1);
    EXPECT_EQ(atrLen, 2u);
    EXPECT_TRUE(state & SCARD_STATE_PRESENT);

    std::uint32_t reconnected = 0;
    ASSERT_EQ(raw.SCardReconnect(card, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_UNPOWER_CARD,
                                 reconnected),
              SCARD_S_SUCCESS);
    EXPECT_EQ(lib.LastArg("SCardReconnect", 3), SCARD_UNPOWER_CARD);
    EXPECT_EQ(reconnected, SCARD_PROTOCOL_T1);
    EXPECT_EQ(raw.SCardBeginTransaction(card), SCARD_S_SUCCESS);
    EXPECT_EQ(raw.SCardEndTransaction(card, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(raw.SCardDisconnect(card, SCARD_UNPOWER_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(lib.LastArg("SCardDisconnect", 1), SCARD_UNPOWER_CARD);
    EXPECT_EQ(raw.SCardDisconnect(card, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(raw.SCardReleaseContext(context), SCARD_S_SUCCESS);
    EXPECT_EQ(lib.OpenContexts(), 0);
}

TEST(BindingInFlight, NamesTheCallAThreadIsBlockedIn) {
    fake::Library lib(kFake);
    lib.AddReader("R");
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    const Handle context = Establish(raw);
    EXPECT_TRUE(ServiceCallsInFlight().empty());

    Status blocked = SCARD_S_SUCCESS;
    std::thread waiter([&] {
        TSCardReaderStateA state{u"R"};
        state.dwCurrentState = SCARD_STATE_EMPTY;
        blocked = raw.SCardGetStatusChange(context, 0xFFFFFFFF, &state, 1);
    });
    // Bounded wait for the other thread to be inside the call.
    std::vector<std::string> inside;
    for (int i = 0; i < 500 && inside.empty(); ++i) {
        inside = ServiceCallsInFlight();
        if (inside.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(inside, std::vector<std::string>{"SCardGetStatusChange"});
    EXPECT_EQ(raw.SCardCancel(context), SCARD_S_SUCCESS);
    waiter.join();
    EXPECT_EQ(blocked, SCARD_E_CANCELLED);
    EXPECT_TRUE(ServiceCallsInFlight().empty());
}
