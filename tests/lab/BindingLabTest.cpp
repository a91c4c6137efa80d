// The binding against the real pcsc-lite service of the lab: two vpcd
// readers, vicc cards inserted and removed by the lab's scripts.
#include <gtest/gtest.h>

#include <cstdlib>

#include "Lab.h"
#include "pcsc/PCSC.h"

using namespace pcsc;

namespace {

class BindingLab : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(std::getenv("VARDEL_PCSC_LIBRARY"), nullptr)
            << "the lab tests use the system library";
        lab::Readers(2);
        lab::CardOut(0);
        lab::CardOut(1);
        ASSERT_TRUE(raw.Initialize()) << platform::LastLoadError();
        ASSERT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context),
                  SCARD_S_SUCCESS);
    }
    void TearDown() override {
        if (context) {
            EXPECT_EQ(raw.SCardReleaseContext(context), SCARD_S_SUCCESS);
        }
    }

    StringList ListReaders() {
        std::uint32_t size = 0;
        EXPECT_EQ(raw.SCardListReaders(context, nullptr, nullptr, size), SCARD_S_SUCCESS);
        std::u16string buffer(size, u'\0');
        EXPECT_EQ(raw.SCardListReaders(context, nullptr, buffer.data(), size), SCARD_S_SUCCESS);
        StringList names;
        EXPECT_TRUE(
            ReaderMultiStringToList(buffer.data(), static_cast<std::int32_t>(size), &names));
        return names;
    }

    TPCSCRaw raw;
    Handle context = 0;
};

}  // namespace

TEST_F(BindingLab, ListsTheReadersInTheServicesOrder) {
    EXPECT_TRUE(raw.Valid());
    EXPECT_EQ(ListReaders(), (StringList{lab::ReaderName(0), lab::ReaderName(1)}));
}

TEST_F(BindingLab, DirectConnectionToAnEmptyReader) {
    const std::u16string name0 = lab::ReaderName(0);
    Handle card = kNoCardHandle;
    std::uint32_t active = 0xFFFF;
    ASSERT_EQ(raw.SCardConnect(context, name0.c_str(), SCARD_SHARE_DIRECT, SCARD_PROTOCOL_UNDEFINED,
                               card, active),
              SCARD_S_SUCCESS);
    EXPECT_NE(card, kNoCardHandle);
    // vpcd knows no vendor attribute: the service's own answer comes back.
    std::uint8_t attr[256];
    std::uint32_t attrLen = sizeof attr;
    EXPECT_NE(raw.SCardGetAttrib(card, SCARD_ATTR_VENDOR_NAME, attr, attrLen), SCARD_S_SUCCESS);
    EXPECT_EQ(raw.SCardDisconnect(card, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);

    // A shared connection needs a card.
    EXPECT_EQ(raw.SCardConnect(context, name0.c_str(), SCARD_SHARE_SHARED,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card, active),
              SCARD_E_NO_SMARTCARD);
}

TEST_F(BindingLab, ReaderStateWithAndWithoutACard) {
    const std::u16string name0 = lab::ReaderName(0);
    const std::u16string name1 = lab::ReaderName(1);
    TSCardReaderStateA states[2] = {{name0.c_str()}, {name1.c_str()}};
    ASSERT_EQ(raw.SCardGetStatusChange(context, 1, states, 2), SCARD_S_SUCCESS);
    for (const auto& state : states) {
        EXPECT_TRUE(state.dwEventState & SCARD_STATE_EMPTY);
        EXPECT_FALSE(state.dwEventState & SCARD_STATE_PRESENT);
        EXPECT_EQ(state.cbAtr, 0u);
    }

    EXPECT_EQ(lab::CardIn(1, "3B 02 14 50"), "3B 02 14 50");
    TSCardReaderStateA withCard{name1.c_str()};
    ASSERT_EQ(raw.SCardGetStatusChange(context, 1, &withCard, 1), SCARD_S_SUCCESS);
    EXPECT_TRUE(withCard.dwEventState & SCARD_STATE_PRESENT);
    ASSERT_EQ(withCard.cbAtr, 4u);
    EXPECT_EQ(BytesToHexString(Bytes(withCard.rgbAtr, withCard.rgbAtr + withCard.cbAtr)),
              u"3B 02 14 50");

    // vicc's default card, T=1.
    EXPECT_EQ(lab::CardIn(0), "3B 95 13 81 01 80 73 FF 01 00 0B");
    TSCardReaderStateA defaultCard{name0.c_str()};
    ASSERT_EQ(raw.SCardGetStatusChange(context, 1, &defaultCard, 1), SCARD_S_SUCCESS);
    EXPECT_EQ(BytesToHexString(Bytes(defaultCard.rgbAtr, defaultCard.rgbAtr + defaultCard.cbAtr)),
              u"3B 95 13 81 01 80 73 FF 01 00 0B");

    lab::CardOut(1);
    TSCardReaderStateA removed{name1.c_str()};
    ASSERT_EQ(raw.SCardGetStatusChange(context, 1, &removed, 1), SCARD_S_SUCCESS);
    EXPECT_TRUE(removed.dwEventState & SCARD_STATE_EMPTY);
    EXPECT_EQ(removed.cbAtr, 0u);
    lab::CardOut(0);
}

TEST_F(BindingLab, ExchangeWithACard) {
    lab::CardIn(0);
    const std::u16string name0 = lab::ReaderName(0);
    Handle card = kNoCardHandle;
    std::uint32_t active = 0;
    ASSERT_EQ(raw.SCardConnect(context, name0.c_str(), SCARD_SHARE_SHARED,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card, active),
              SCARD_S_SUCCESS);
    EXPECT_EQ(active, SCARD_PROTOCOL_T1);
    const std::uint8_t select[] = {0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00};
    std::uint8_t reply[258];
    std::uint32_t replyLen = sizeof reply;
    ASSERT_EQ(
        raw.SCardTransmit(card, SCARD_PCI_T1, select, sizeof select, nullptr, reply, replyLen),
        SCARD_S_SUCCESS);
    ASSERT_EQ(replyLen, 2u);
    EXPECT_EQ(reply[0], 0x90);
    EXPECT_EQ(reply[1], 0x00);

    char16_t name[128];
    std::uint32_t nameLen = 128;
    std::uint32_t state = 0, protocol = 0;
    std::uint8_t atr[36];
    std::uint32_t atrLen = sizeof atr;
    ASSERT_EQ(raw.SCardStatus(card, name, nameLen, state, protocol, atr, atrLen), SCARD_S_SUCCESS);
    EXPECT_EQ(std::u16string(name), lab::ReaderName(0));
    EXPECT_EQ(atrLen, 11u);
    EXPECT_EQ(raw.SCardDisconnect(card, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    lab::CardOut(0);
}

TEST(BindingNoService, EstablishAnswersNoService) {
    // A socket where no service listens: the client library answers at once.
    const char* lab = std::getenv("PCSCLITE_CSOCK_NAME");
    const std::string saved = lab ? lab : "";
    setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/pcscd.comm", 1);
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize());
    Handle context = 0;
    EXPECT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context),
              SCARD_E_NO_SERVICE);
    if (lab)
        setenv("PCSCLITE_CSOCK_NAME", saved.c_str(), 1);
    else
        unsetenv("PCSCLITE_CSOCK_NAME");
}
