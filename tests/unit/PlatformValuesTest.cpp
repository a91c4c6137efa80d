// The platform values the library exchanges with pcsc-lite must be exactly
// those of the installed pcsc-lite headers.
#include <gtest/gtest.h>

#include "PcscLiteDeclarations.h"
#include "pcsc/PCSC.h"
#include "pcsc/platform/Platform.h"

using namespace pcsc;

TEST(PcscLiteValues, DifferingValuesAreThePlatforms) {
    const auto lite = pcsclite::Read();
    EXPECT_EQ(SCARD_PROTOCOL_RAW, lite.protocolRaw);
    EXPECT_EQ(SCARD_E_UNSUPPORTED_FEATURE, lite.unsupportedFeature);
    EXPECT_EQ(platform::kMaxAtrSize, lite.maxAtrSize);
    TPCSCRaw raw;  // pure arithmetic, valid binding or not
    EXPECT_EQ(raw.SCardCTLCode(2049), lite.ctlCode2049);
    EXPECT_EQ(raw.SCardCTLCode(2049), 0x42000801u);
}

TEST(PcscLiteValues, RecordLayoutsMatch) {
    const auto lite = pcsclite::Read();
    EXPECT_EQ(sizeof(platform::NativeReaderState), lite.readerStateSize);
    EXPECT_EQ(offsetof(platform::NativeReaderState, rgbAtr), lite.readerStateAtrOffset);
    EXPECT_EQ(offsetof(platform::NativeReaderState, cbAtr), lite.readerStateCbAtrOffset);
    EXPECT_EQ(sizeof(platform::NativeIoRequest), lite.ioRequestSize);
    EXPECT_EQ(sizeof(platform::NativeDword), lite.dwordSize);
    EXPECT_EQ(sizeof(platform::NativeHandle), lite.handleSize);
}

TEST(PcscLiteValues, SharedValuesAgree) {
    const auto lite = pcsclite::Read();
    const unsigned long ours[7] = {SCARD_STATE_UNAWARE, SCARD_STATE_UNAVAILABLE, SCARD_STATE_EMPTY,
                                   SCARD_STATE_PRESENT, SCARD_STATE_EXCLUSIVE,   SCARD_STATE_INUSE,
                                   SCARD_STATE_MUTE};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(ours[i], lite.stateFlags[i]) << "flag " << i;
    EXPECT_EQ(SCARD_SCOPE_USER, lite.scopeUser);
    EXPECT_EQ(SCARD_SCOPE_SYSTEM, lite.scopeSystem);
    EXPECT_EQ(SCARD_SHARE_DIRECT, lite.shareDirect);
    EXPECT_EQ(SCARD_UNPOWER_CARD, lite.unpowerCard);
    EXPECT_EQ(SCARD_E_NO_SERVICE, lite.noService);
    EXPECT_EQ(SCARD_E_SERVICE_STOPPED, lite.serviceStopped);
    EXPECT_EQ(SCARD_E_NO_READERS_AVAILABLE, lite.noReadersAvailable);
}

TEST(LibraryRecords, ShapeOfTheLibrarysOwnRecords) {
    // The library's records keep the wide platform's layout everywhere.
    EXPECT_EQ(sizeof(TPcscProtocol), 1u);
    EXPECT_EQ(static_cast<int>(TPcscProtocol::prNC), 0);
    EXPECT_EQ(static_cast<int>(TPcscProtocol::prDirect), 4);
    EXPECT_EQ(sizeof(TSCardReaderStateA::rgbAtr), 36u);
    const TSCardReaderStateA notification{kPnPNotification};
    EXPECT_EQ(std::u16string(notification.szReader), u"\\\\?PNP?\\Notification");
    EXPECT_EQ(std::char_traits<char16_t>::length(kPnPNotification), 20u);
    EXPECT_EQ(notification.pvUserData, nullptr);
    EXPECT_EQ(notification.dwCurrentState, 0u);
    EXPECT_EQ(notification.dwEventState, 0u);
    EXPECT_EQ(notification.cbAtr, 0u);
    EXPECT_EQ(SCARD_PCI_T0->Protocol, SCARD_PROTOCOL_T0);
    EXPECT_EQ(SCARD_PCI_T0->Size, 8u);
    EXPECT_EQ(SCARD_PCI_T1->Protocol, SCARD_PROTOCOL_T1);
    EXPECT_EQ(SCARD_PCI_T1->Size, 8u);
    static_assert(std::is_const_v<std::remove_pointer_t<decltype(SCARD_PCI_T0)>>);
}
