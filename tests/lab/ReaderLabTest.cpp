// Reader objects against the real pcsc-lite service of the lab: connections,
// command exchange and resets with a vicc card, and the card-state poll, each
// reader made by the test on a binding of its own (no manager).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Lab.h"
#include "pcsc/PCSC.h"

using namespace pcsc;

namespace {

const Bytes kSelectMF = {0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00};
const std::u16string kSelectMFText = u"00 A4 00 0C 02 3F 00";
// SELECT by an application identifier the card does not hold.
const Bytes kSelectUnknownAID = {0x00, 0xA4, 0x04, 0x0C, 0x05, 0xA0, 0x00, 0x00, 0x00, 0x99};
// GET CHALLENGE of 8 bytes: data before the status word.
const Bytes kGetChallenge = {0x00, 0x84, 0x00, 0x00, 0x08};

using lab::kGuard;
using lab::Narrow;
using lab::Packed;
using lab::StateName;

Bytes AtrBytes(const std::string& spaced) {
    return HexStringToBytes(std::u16string(spaced.begin(), spaced.end()));
}

class ReaderLab : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(std::getenv("VARDEL_PCSC_LIBRARY"), nullptr)
            << "the lab tests use the system library";
        lab::Readers(2);
        lab::CardOut(0);
        lab::CardOut(1);
        raw = std::make_shared<TPCSCRaw>();
        ASSERT_TRUE(raw->Initialize()) << platform::LastLoadError();
    }
    void TearDown() override {
        reader.reset();
        lab::CardOut(0);
        lab::CardOut(1);
    }

    // A reader whose callback records the state and ATR it sees, as the
    // manager's handler would.
    TPCSCReader& MakeReader(int k) {
        reader = std::make_unique<TPCSCReader>(lab::ReaderName(k), raw);
        reader->SetOnCardStateChanged([this](TPCSCReader* changed) {
            EXPECT_EQ(changed, reader.get());
            std::string entry = StateName(changed->CardState());
            if (!changed->ATR().empty()) entry += " " + Narrow(changed->ATRasString());
            changes.push_back(entry);
        });
        return *reader;
    }

    // Polls as the manager's tick does until the state is reached.
    static bool PollUntil(TPCSCReader& r, TCardState wanted) {
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        for (;;) {
            r.CheckCardState();
            if (r.CardState() == wanted) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::shared_ptr<TPCSCRaw> raw;
    std::unique_ptr<TPCSCReader> reader;
    std::vector<std::string> changes;
};

}  // namespace

TEST_F(ReaderLab, CardStatePollFollowsInsertionAndRemoval) {
    TPCSCReader& r = MakeReader(1);
    EXPECT_EQ(r.ReaderName(), lab::ReaderName(1));
    EXPECT_EQ(r.CardState(), TCardState::csUnknown);
    EXPECT_TRUE(r.ATR().empty());
    EXPECT_EQ(r.ATRasString(), u"");
    EXPECT_EQ(r.DisplayName(), lab::ReaderName(1));

    // The first poll of an empty reader reports a removal, once.
    r.CheckCardState();
    EXPECT_EQ(r.CardState(), TCardState::csNoCard);
    r.CheckCardState();
    EXPECT_EQ(changes, (std::vector<std::string>{"no-card"}));

    const std::string atr = lab::CardIn(1, "3B 02 14 50");
    ASSERT_EQ(atr, "3B 02 14 50");
    ASSERT_TRUE(PollUntil(r, TCardState::csAvailable)) << StateName(r.CardState());
    r.CheckCardState();
    EXPECT_EQ(changes, (std::vector<std::string>{"no-card", "available 3B021450"}));
    EXPECT_EQ(r.ATR(), AtrBytes(atr));
    EXPECT_EQ(r.ATRasString(), u"3B021450");

    // Another card: the reader goes through "empty" and reads the new ATR.
    lab::CardOut(1);
    ASSERT_TRUE(PollUntil(r, TCardState::csNoCard)) << StateName(r.CardState());
    EXPECT_TRUE(r.ATR().empty());
    const std::string defaultAtr = lab::CardIn(1);
    ASSERT_TRUE(PollUntil(r, TCardState::csAvailable)) << StateName(r.CardState());
    EXPECT_EQ(r.ATR(), AtrBytes(defaultAtr));
    EXPECT_EQ(Narrow(r.ATRasString()), Packed(defaultAtr));
    EXPECT_EQ(r.ATRasString().size(), 2 * r.ATR().size());
    EXPECT_EQ(changes, (std::vector<std::string>{"no-card", "available 3B021450", "no-card",
                                                 "available " + Packed(defaultAtr)}));
}

TEST_F(ReaderLab, DirectConnectionToAnEmptyReaderCannotTransmit) {
    TPCSCReader& r = MakeReader(0);
    // Not connected: nothing reaches the service.
    Bytes out = {0xEE};
    std::uint16_t sw = 0xEEEE;
    EXPECT_EQ(r.Disconnect(SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(r.ResetCard(true), SCARD_E_INVALID_PARAMETER);
    EXPECT_EQ(r.TransmitSW(kSelectMF, out, sw), SCARD_E_INVALID_PARAMETER);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(sw, 0);

    // A shared connection needs a card, and a refused one leaves the reader
    // not connected.
    EXPECT_EQ(r.Connect(SCARD_SHARE_SHARED), SCARD_E_NO_SMARTCARD);
    EXPECT_EQ(r.CardHandle(), kNoCardHandle);
    EXPECT_EQ(r.Protocol(), TPcscProtocol::prNC);

    ASSERT_EQ(r.Connect(SCARD_SHARE_DIRECT), SCARD_S_SUCCESS);
    const Handle direct = r.CardHandle();
    EXPECT_NE(direct, kNoCardHandle);
    EXPECT_EQ(r.Protocol(), TPcscProtocol::prRaw);
    out = {0xEE};
    EXPECT_EQ(r.Transmit(kSelectMF, out), SCARD_E_INVALID_PARAMETER);
    EXPECT_TRUE(out.empty());
    out = {0xEE};
    EXPECT_EQ(r.TransmitAsString(kSelectMFText, out), SCARD_E_INVALID_PARAMETER);
    EXPECT_TRUE(out.empty());
    // vpcd knows no control command: the service's refusal comes back as it
    // came, with nothing in the output.
    out = {0xEE};
    EXPECT_EQ(r.IOCTL(IOCTL_READER_VERSION_FUNCTION, {}, out), SCARD_E_UNSUPPORTED_FEATURE);
    EXPECT_TRUE(out.empty());
    out = {0xEE};
    EXPECT_EQ(r.IOCTLString(IOCTL_READER_VERSION_FUNCTION, u"", out), SCARD_E_UNSUPPORTED_FEATURE);
    EXPECT_TRUE(out.empty());

    // Already connected: another mode is not taken, the connection stays.
    EXPECT_EQ(r.Connect(SCARD_SHARE_SHARED), SCARD_S_SUCCESS);
    EXPECT_EQ(r.CardHandle(), direct);
    EXPECT_EQ(r.Protocol(), TPcscProtocol::prRaw);

    EXPECT_EQ(r.Disconnect(SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(r.CardHandle(), kNoCardHandle);
    EXPECT_EQ(r.Protocol(), TPcscProtocol::prNC);
    EXPECT_EQ(r.Disconnect(SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
}

TEST_F(ReaderLab, ExchangeAndResetsWithTheDefaultCard) {
    lab::CardIn(0);
    TPCSCReader& r = MakeReader(0);
    ASSERT_EQ(r.Connect(SCARD_SHARE_SHARED), SCARD_S_SUCCESS);
    EXPECT_NE(r.CardHandle(), kNoCardHandle);
    EXPECT_EQ(r.Protocol(), TPcscProtocol::prT1);

    // Only SW1 SW2 come back: TransmitSW keeps the data, Transmit all of it.
    Bytes out = {0xEE};
    std::uint16_t sw = 0;
    ASSERT_EQ(r.TransmitSW(kSelectMF, out, sw), SCARD_S_SUCCESS);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(sw, 0x9000);
    ASSERT_EQ(r.Transmit(kSelectMF, out), SCARD_S_SUCCESS);
    EXPECT_EQ(out, (Bytes{0x90, 0x00}));
    out.clear();
    ASSERT_EQ(r.TransmitAsString(kSelectMFText, out), SCARD_S_SUCCESS);
    EXPECT_EQ(out, (Bytes{0x90, 0x00}));
    sw = 0;
    ASSERT_EQ(r.TransmitAsStringSW(kSelectMFText, out, sw), SCARD_S_SUCCESS);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(sw, 0x9000);

    // A refusal is a status word, not a failed call.
    ASSERT_EQ(r.TransmitSW(kSelectUnknownAID, out, sw), SCARD_S_SUCCESS);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(sw, 0x6A82);

    // Data before the status word: TransmitSW gives the data alone.
    ASSERT_EQ(r.TransmitSW(kGetChallenge, out, sw), SCARD_S_SUCCESS);
    EXPECT_EQ(out.size(), 8u);
    EXPECT_EQ(sw, 0x9000);
    ASSERT_EQ(r.Transmit(kGetChallenge, out), SCARD_S_SUCCESS);
    ASSERT_EQ(out.size(), 10u);
    EXPECT_EQ(out[8], 0x90);
    EXPECT_EQ(out[9], 0x00);

    // Warm and cold resets keep the connection and its protocol.
    const Handle handle = r.CardHandle();
    EXPECT_EQ(r.ResetCard(true), SCARD_S_SUCCESS);
    EXPECT_EQ(r.Protocol(), TPcscProtocol::prT1);
    EXPECT_EQ(r.CardHandle(), handle);
    ASSERT_EQ(r.TransmitSW(kSelectMF, out, sw), SCARD_S_SUCCESS);
    EXPECT_EQ(sw, 0x9000);
    EXPECT_EQ(r.ResetCard(false), SCARD_S_SUCCESS);
    EXPECT_EQ(r.Protocol(), TPcscProtocol::prT1);
    EXPECT_EQ(r.CardHandle(), handle);
    ASSERT_EQ(r.TransmitSW(kSelectMF, out, sw), SCARD_S_SUCCESS);
    EXPECT_EQ(sw, 0x9000);

    EXPECT_EQ(r.Disconnect(SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(r.CardHandle(), kNoCardHandle);
    EXPECT_EQ(r.Protocol(), TPcscProtocol::prNC);
    EXPECT_EQ(r.Transmit(kSelectMF, out), SCARD_E_INVALID_PARAMETER);
    EXPECT_TRUE(out.empty());
}

TEST_F(ReaderLab, OwnConnectionShowsAsInUseWithoutCallback) {
    const std::string atr = lab::CardIn(0);
    TPCSCReader& r = MakeReader(0);
    ASSERT_TRUE(PollUntil(r, TCardState::csAvailable)) << StateName(r.CardState());
    const std::vector<std::string> available = {"available " + Packed(atr)};
    ASSERT_EQ(changes, available);

    ASSERT_EQ(r.Connect(SCARD_SHARE_SHARED), SCARD_S_SUCCESS);
    ASSERT_TRUE(PollUntil(r, TCardState::csShared)) << StateName(r.CardState());
    EXPECT_EQ(changes, available);
    EXPECT_EQ(Narrow(r.ATRasString()), Packed(atr));  // kept while in use
    EXPECT_NE(r.CardHandle(), kNoCardHandle);         // the poll leaves the connection alone

    ASSERT_EQ(r.Disconnect(SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    ASSERT_TRUE(PollUntil(r, TCardState::csAvailable)) << StateName(r.CardState());
    EXPECT_EQ(changes, (std::vector<std::string>{available[0], available[0]}));

    ASSERT_EQ(r.Connect(SCARD_SHARE_EXCLUSIVE), SCARD_S_SUCCESS);
    ASSERT_TRUE(PollUntil(r, TCardState::csExclusive)) << StateName(r.CardState());
    EXPECT_EQ(changes.size(), 2u);

    // The card pulled while connected: the poll closes the connection.
    lab::CardOut(0);
    ASSERT_TRUE(PollUntil(r, TCardState::csNoCard)) << StateName(r.CardState());
    EXPECT_EQ(r.CardHandle(), kNoCardHandle);
    EXPECT_EQ(r.Protocol(), TPcscProtocol::prNC);
    EXPECT_TRUE(r.ATR().empty());
    EXPECT_EQ(changes, (std::vector<std::string>{available[0], available[0], "no-card"}));
}
