// The reader object's connection and exchange rules, over the fake library
// (it records what reaches the service and answers what a card may answer).
#include <gtest/gtest.h>

#include <thread>

#include "FakePcscClient.h"
#include "pcsc/PCSC.h"

using namespace pcsc;

namespace {

class ReaderOverFake : public ::testing::Test {
protected:
    ReaderOverFake() : lib(FAKE_PCSC_PATH) {
        lib.AddReader("R");
        lib.SetReaderState("R", SCARD_STATE_PRESENT, {0x3B, 0x02, 0x14, 0x50});
        raw = std::make_shared<TPCSCRaw>();
        EXPECT_TRUE(raw->Initialize());
    }
    fake::Library lib;
    std::shared_ptr<TPCSCRaw> raw;
};

}  // namespace

TEST_F(ReaderOverFake, ConnectionStates) {
    TPCSCReader reader(u"R", raw);
    EXPECT_EQ(reader.Protocol(), TPcscProtocol::prNC);
    EXPECT_EQ(reader.CardHandle(), kNoCardHandle);
    EXPECT_EQ(reader.Disconnect(SCARD_LEAVE_CARD), SCARD_S_SUCCESS) << "not connected: no call";
    EXPECT_EQ(lib.Calls("SCardDisconnect"), 0);

    ASSERT_EQ(reader.Connect(SCARD_SHARE_SHARED), SCARD_S_SUCCESS);
    EXPECT_EQ(lib.LastArg("SCardConnect", 3), SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);
    EXPECT_EQ(reader.Protocol(), TPcscProtocol::prT1);
    const Handle first = reader.CardHandle();
    EXPECT_EQ(reader.Connect(SCARD_SHARE_EXCLUSIVE), SCARD_S_SUCCESS);
    EXPECT_EQ(lib.Calls("SCardConnect"), 1) << "already connected: no second call";
    EXPECT_EQ(reader.CardHandle(), first);

    // A disconnection the service refuses still leaves the reader unconnected.
    lib.ForceResult("SCardDisconnect", static_cast<long>(static_cast<std::int32_t>(0x80100003)), 1);
    EXPECT_EQ(reader.Disconnect(SCARD_UNPOWER_CARD), SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(reader.CardHandle(), kNoCardHandle);
    EXPECT_EQ(reader.Protocol(), TPcscProtocol::prNC);

    // A failed connection leaves it unconnected too.
    lib.SetReaderState("R", SCARD_STATE_EMPTY);
    EXPECT_EQ(reader.Connect(SCARD_SHARE_SHARED), SCARD_E_NO_SMARTCARD);
    EXPECT_EQ(reader.CardHandle(), kNoCardHandle);
}

TEST_F(ReaderOverFake, DirectConnectionCannotTransmitButReachesTheReader) {
    lib.SetReaderState("R", SCARD_STATE_EMPTY);
    lib.SetControlReply("R", {0x01, 0x02});
    TPCSCReader reader(u"R", raw);
    ASSERT_EQ(reader.Connect(SCARD_SHARE_DIRECT), SCARD_S_SUCCESS);
    EXPECT_EQ(lib.LastArg("SCardConnect", 3), SCARD_PROTOCOL_UNDEFINED);
    EXPECT_EQ(reader.Protocol(), TPcscProtocol::prRaw);
    Bytes out{0xAA};
    EXPECT_EQ(reader.Transmit({0x00, 0xA4}, out), SCARD_E_INVALID_PARAMETER);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(lib.Calls("SCardTransmit"), 0);
    ASSERT_EQ(reader.IOCTL(2049, {}, out), SCARD_S_SUCCESS);
    EXPECT_EQ(out, (Bytes{0x01, 0x02}));
    EXPECT_EQ(lib.LastArg("SCardControl", 1), platform::SmartCardCtlCode(2049));
    EXPECT_EQ(lib.LastArg("SCardControl", 5), 264u);
    // A raw connection asks for the raw protocol; the empty reader refuses.
    EXPECT_EQ(reader.ResetCard(true), SCARD_E_PROTO_MISMATCH);
    EXPECT_EQ(lib.LastArg("SCardReconnect", 2), SCARD_PROTOCOL_RAW);
    EXPECT_EQ(reader.Protocol(), TPcscProtocol::prRaw);
}

TEST_F(ReaderOverFake, ResetAsksWarmOrColdInSharedMode) {
    TPCSCReader reader(u"R", raw);
    EXPECT_EQ(reader.ResetCard(true), SCARD_E_INVALID_PARAMETER) << "not connected";
    EXPECT_EQ(lib.Calls("SCardReconnect"), 0);
    ASSERT_EQ(reader.Connect(SCARD_SHARE_EXCLUSIVE), SCARD_S_SUCCESS);
    ASSERT_EQ(reader.ResetCard(true), SCARD_S_SUCCESS);
    EXPECT_EQ(lib.LastArg("SCardReconnect", 1), SCARD_SHARE_SHARED);
    EXPECT_EQ(lib.LastArg("SCardReconnect", 2), SCARD_PROTOCOL_T1);
    EXPECT_EQ(lib.LastArg("SCardReconnect", 3), SCARD_RESET_CARD);
    ASSERT_EQ(reader.ResetCard(false), SCARD_S_SUCCESS);
    EXPECT_EQ(lib.LastArg("SCardReconnect", 3), SCARD_UNPOWER_CARD);
    lib.ForceResult("SCardReconnect", static_cast<long>(static_cast<std::int32_t>(0x80100069)), 1);
    EXPECT_EQ(reader.ResetCard(true), SCARD_W_REMOVED_CARD);
    EXPECT_EQ(reader.Protocol(), TPcscProtocol::prT1) << "a failed reset changes nothing";
}

TEST_F(ReaderOverFake, ResponsesSplitIntoDataAndStatusWords) {
    lib.SetCardProtocol("R", SCARD_PROTOCOL_T0);
    TPCSCReader reader(u"R", raw);
    ASSERT_EQ(reader.Connect(SCARD_SHARE_SHARED), SCARD_S_SUCCESS);
    EXPECT_EQ(reader.Protocol(), TPcscProtocol::prT0);

    Bytes out;
    std::uint16_t sw = 0xFFFF;
    lib.SetResponse("R", {0x90, 0x00});
    ASSERT_EQ(reader.TransmitSW({0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00}, out, sw),
              SCARD_S_SUCCESS);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(sw, 0x9000);
    EXPECT_EQ(lib.LastArg("SCardTransmit", 1), SCARD_PROTOCOL_T0)
        << "T=0 header on a T=0 connection";
    ASSERT_EQ(reader.Transmit({0x00}, out), SCARD_S_SUCCESS);
    EXPECT_EQ(out, (Bytes{0x90, 0x00}));

    lib.SetResponse("R", {0x61});
    ASSERT_EQ(reader.TransmitSW({0x00}, out, sw), SCARD_S_SUCCESS);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(sw, 0) << "one byte holds no status words";
    ASSERT_EQ(reader.Transmit({0x00}, out), SCARD_S_SUCCESS);
    EXPECT_EQ(out, (Bytes{0x61}));

    lib.SetResponse("R", {0xDE, 0xAD, 0x6A, 0x82});
    ASSERT_EQ(reader.TransmitAsStringSW(u"00 A4 04 00 02 DE AD", out, sw), SCARD_S_SUCCESS);
    EXPECT_EQ(out, (Bytes{0xDE, 0xAD}));
    EXPECT_EQ(sw, 0x6A82);
    EXPECT_EQ(lib.LastArg("SCardTransmit", 3), 7u) << "the text went as its 7 bytes";
    ASSERT_EQ(reader.TransmitAsString(u"00a4", out), SCARD_S_SUCCESS);
    EXPECT_EQ(out, (Bytes{0xDE, 0xAD, 0x6A, 0x82}));

    lib.ForceResult("SCardTransmit", static_cast<long>(static_cast<std::int32_t>(0x80100066)), 1);
    EXPECT_EQ(reader.TransmitSW({0x00}, out, sw), SCARD_W_UNRESPONSIVE_CARD);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(sw, 0);
}

TEST_F(ReaderOverFake, RefusedControlLeavesNothingBehind) {
    TPCSCReader reader(u"R", raw);
    Bytes out{1, 2, 3};
    // Not connected: the all-ones handle goes to the service, which refuses it.
    EXPECT_EQ(reader.IOCTLString(2049, u"01 02", out), SCARD_E_INVALID_HANDLE);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(lib.LastArg("SCardControl", 3), 2u);
    ASSERT_EQ(reader.Connect(SCARD_SHARE_DIRECT), SCARD_S_SUCCESS);
    lib.SetControlReply("R", std::vector<unsigned char>(300, 0x55));
    EXPECT_EQ(reader.IOCTL(2049, {}, out), SCARD_E_INSUFFICIENT_BUFFER)
        << "a reply over 264 bytes does not fit";
    EXPECT_TRUE(out.empty());
}

TEST_F(ReaderOverFake, ContextLostIsRenewedAtMostOnceASecond) {
    TPCSCReader reader(u"R", raw);
    reader.CheckCardState();
    EXPECT_EQ(reader.CardState(), TCardState::csAvailable);
    const long established = lib.Calls("SCardEstablishContext");
    lib.SetService(false);
    lib.SetService(true);  // a restart: the reader's context is dead for ever
    reader.CheckCardState();
    reader.CheckCardState();
    // The reader was created less than a second ago: no new attempt yet.
    EXPECT_EQ(lib.Calls("SCardEstablishContext"), established);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    reader.CheckCardState();
    EXPECT_EQ(lib.Calls("SCardEstablishContext"), established + 1);
    lib.SetReaderState("R", SCARD_STATE_EMPTY);
    reader.CheckCardState();
    EXPECT_EQ(reader.CardState(), TCardState::csNoCard) << "the new context polls again";
}

TEST_F(ReaderOverFake, ALengthBeyondTheBufferIsNeverRead) {
    // A library that answers success with more than the 66000 bytes it was
    // given: nothing of the buffer is read (AddressSanitizer would see the
    // status words read past its end), the data is empty, the code the
    // library's.
    TPCSCReader reader(u"R", raw);
    ASSERT_EQ(reader.Connect(SCARD_SHARE_SHARED), SCARD_S_SUCCESS);
    lib.SetResponse("R", {0x61, 0x10, 0x90, 0x00});
    for (const unsigned long claimed : {66001ul, 70000ul, 0xFFFFFFFFul}) {
        SCOPED_TRACE(claimed);
        lib.OverstateLength("SCardTransmit", claimed, 2);
        Bytes out{0xAA};
        std::uint16_t sw = 0xFFFF;
        EXPECT_EQ(reader.TransmitSW({0x00, 0xC0, 0x00, 0x00, 0x10}, out, sw), SCARD_S_SUCCESS);
        EXPECT_TRUE(out.empty());
        EXPECT_EQ(sw, 0);
        out = {0xAA};
        EXPECT_EQ(reader.Transmit({0x00}, out), SCARD_S_SUCCESS);
        EXPECT_TRUE(out.empty());
    }
    // The next answer is believed again.
    Bytes out;
    std::uint16_t sw = 0;
    EXPECT_EQ(reader.TransmitSW({0x00}, out, sw), SCARD_S_SUCCESS);
    EXPECT_EQ(out, (Bytes{0x61, 0x10}));
    EXPECT_EQ(sw, 0x9000);
}
