// The reader manager over the fake smart-card library: what the lab's real
// service cannot be made to do (listing failures, mute cards, vendor
// attributes, a list that never lists), and its shutdown in every state.
#include <cstring>
#include <string>
#include <vector>

#include "ManagerFixture.h"

using namespace pcsc;
using testing_support::ManagerOverFake;

namespace {

const std::vector<unsigned char> kAtr{0x3B, 0x95, 0x13, 0x81, 0x01, 0x80,
                                      0x73, 0xFF, 0x01, 0x00, 0x0B};

}  // namespace

TEST_F(ManagerOverFake, FindsReadersInServiceOrderAndTellsNamesApartByCase) {
    lib.AddReader("Reader B");
    lib.AddReader("reader a");
    lib.AddReader("Reader A");
    TPCSC& m = StartManager();
    EXPECT_TRUE(m.Valid());
    ASSERT_TRUE(RunUntil([&] { return recorder.Starting("found").size() == 3; }));
    EXPECT_EQ(recorder.Starting("found"),
              (std::vector<std::string>{"found Reader B", "found reader a", "found Reader A"}));
    ASSERT_NE(m.GetPCSCReader(u"reader a"), nullptr);
    ASSERT_NE(m.GetPCSCReader(u"Reader A"), nullptr);
    EXPECT_NE(m.GetPCSCReader(u"reader a"), m.GetPCSCReader(u"Reader A"));
    EXPECT_EQ(m.GetPCSCReader(u"READER A"), nullptr);
    EXPECT_EQ(m.GetPCSCReader(u"Reader A")->ReaderName(), u"Reader A");
    ASSERT_EQ(m.ReaderList().size(), 3u);
    EXPECT_EQ(m.ReaderList()[0].first, u"Reader B");

    // First poll of an empty reader: a card removal although no card was seen.
    ASSERT_TRUE(RunUntil([&] { return recorder.Starting("card-removed").size() == 3; }));
    EXPECT_EQ(m.GetPCSCReader(u"Reader B")->CardState(), TCardState::csNoCard);
    EXPECT_EQ(recorder.Count("state Reader B"), 1u);
    RunCycles(5);
    EXPECT_EQ(recorder.Count("state Reader B"), 1u) << "nothing changed, nothing reported";
}

TEST_F(ManagerOverFake, CardInsertedAndRemovedAreReportedInOrder) {
    lib.AddReader("R");
    TPCSC& m = StartManager();
    ASSERT_TRUE(RunUntilEvent("card-removed R"));
    recorder.events.clear();

    lib.SetReaderState("R", SCARD_STATE_PRESENT, kAtr);
    ASSERT_TRUE(RunUntilEvent("inserted R 3B 95 13 81 01 80 73 FF 01 00 0B"));
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"state R", "inserted R 3B 95 13 81 01 80 73 FF 01 00 0B"}))
        << "the state change comes during the tick, the insertion through the queue";
    TPCSCReader* reader = m.GetPCSCReader(u"R");
    EXPECT_EQ(reader->CardState(), TCardState::csAvailable);
    EXPECT_EQ(reader->ATR(), Bytes(kAtr.begin(), kAtr.end()));
    EXPECT_EQ(reader->ATRasString(), u"3B951381018073FF01000B");

    lib.SetReaderState("R", SCARD_STATE_EMPTY);
    ASSERT_TRUE(RunUntilEvent("card-removed R"));
    EXPECT_TRUE(reader->ATR().empty());
    EXPECT_EQ(reader->ATRasString(), u"");
}

TEST_F(ManagerOverFake, BadCardsAndUnavailableReaders) {
    lib.AddReader("R");
    TPCSC& m = StartManager();
    ASSERT_TRUE(RunUntilEvent("card-removed R"));
    TPCSCReader* reader = m.GetPCSCReader(u"R");

    lib.SetReaderState("R", SCARD_STATE_PRESENT | SCARD_STATE_MUTE, kAtr);
    ASSERT_TRUE(RunUntilEvent("error R"));
    EXPECT_EQ(reader->CardState(), TCardState::csBadCard);

    // Unavailable: the state stays where it was, no callback.
    recorder.events.clear();
    lib.SetReaderState("R", SCARD_STATE_UNAVAILABLE);
    RunCycles(5);
    EXPECT_EQ(reader->CardState(), TCardState::csBadCard);
    EXPECT_TRUE(recorder.events.empty());

    // Neither present nor empty: bad without an ATR, unknown with one.
    lib.SetReaderState("R", SCARD_STATE_PRESENT, kAtr);
    ASSERT_TRUE(RunUntil([&] { return reader->CardState() == TCardState::csAvailable; }));
    lib.SetReaderState("R", 0);
    ASSERT_TRUE(RunUntil([&] { return reader->CardState() == TCardState::csBadCard; }));
    ASSERT_TRUE(RunUntilEvent("error R"));
}

TEST_F(ManagerOverFake, ReaderListChangesBetweenCyclesAreFollowed) {
    // The fake answers the reader-list notification as pcsc-lite 1.9.9: never
    // with a change on a 0 ms poll. The manager must follow all the same.
    lib.SetPnpMode(0);
    lib.AddReader("First");
    TPCSC& m = StartManager();
    ASSERT_TRUE(RunUntilEvent("found First"));
    lib.AddReader("Second");
    ASSERT_TRUE(RunUntilEvent("found Second"));
    lib.RemoveReader("First");
    ASSERT_TRUE(RunUntilEvent("removed First"));
    EXPECT_EQ(m.GetPCSCReader(u"First"), nullptr);
    lib.RemoveReader("Second");
    lib.AddReader("Second");  // gone and back between two cycles: same list
    lib.AddReader("Third");
    ASSERT_TRUE(RunUntilEvent("found Third"));
    EXPECT_EQ(recorder.Count("found Second"), 1u);
    EXPECT_EQ(recorder.Count("removed First"), 1u);
}

TEST_F(ManagerOverFake, ReadersGoneInOneListingAreRemovedInReverseOrderAndTheOthersKeepTheirPlace) {
    for (const char* name : {"R0", "R1", "R2", "R3", "R4", "R5"}) lib.AddReader(name);
    TPCSC& m = StartManager();
    ASSERT_TRUE(RunUntilEvent("found R5"));
    const auto names = [&m] {
        std::vector<std::u16string> out;
        for (const auto& [name, reader] : m.ReaderList()) {
            EXPECT_EQ(m.GetPCSCReader(name), reader.get()) << testing_support::Narrow(name);
            out.push_back(name);
        }
        return out;
    };

    // Three gone at once (every listing from now on gives this list).
    lib.SetRawReaderList(std::string("R0\0R2\0R5\0\0", 10));
    ASSERT_TRUE(RunUntilEvent("removed R1"));
    EXPECT_EQ(recorder.Starting("removed"),
              (std::vector<std::string>{"removed R4", "removed R3", "removed R1"}));
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"R0", u"R2", u"R5"}));
    for (const char16_t* gone : {u"R1", u"R3", u"R4"}) EXPECT_EQ(m.GetPCSCReader(gone), nullptr);

    // One back, one new that differs only in letter case: both at the end.
    lib.SetRawReaderList(std::string("R0\0R3\0R2\0r2\0R5\0\0", 16));
    ASSERT_TRUE(RunUntilEvent("found r2"));
    EXPECT_EQ(names(), (std::vector<std::u16string>{u"R0", u"R2", u"R5", u"R3", u"r2"}));
    EXPECT_EQ(recorder.Count("found R3"), 2u);
    EXPECT_EQ(recorder.Count("found R2"), 1u);
}

TEST_F(ManagerOverFake, ListingReestablishesTheContextOnAServiceLostAnswer) {
    for (const long code : {6L, 109L, static_cast<long>(static_cast<std::int32_t>(0x8010001E))}) {
        SCOPED_TRACE(code);
        lib.AddReader("R");
        TPCSC& m = StartManager(false);
        const long established = lib.Calls("SCardEstablishContext");
        // The manager's first listing call (it asks for the size first; the
        // watcher always passes a buffer) meets the broken context.
        lib.ForceResult("SCardListReaders+size", code, 1);
        m.Start();
        ASSERT_TRUE(RunUntilEvent("found R"));
        EXPECT_GT(lib.Calls("SCardEstablishContext"), established) << "a new context was asked for";
        manager.reset();
        lib.RemoveReader("R");
        recorder.events.clear();
        EXPECT_EQ(lib.OpenContexts(), 0) << "every context released";
    }
}

TEST_F(ManagerOverFake, ASecondListingCallThatAlwaysFailsDoesNotHang) {
    lib.AddReader("R");
    lib.ForceResult("SCardListReaders+buffer",
                    static_cast<long>(static_cast<std::int32_t>(0x80100013)), -1);
    TPCSC& m = StartManager();
    ASSERT_TRUE(RunUntil([&] { return m.ListingsDone() >= 1; }));
    RunCycles(3);
    EXPECT_TRUE(m.ReaderList().empty()) << "a list that cannot be read counts as empty";
    EXPECT_FALSE(recorder.Has("found R"));
    EXPECT_LT(lib.Calls("SCardListReaders"), 100) << "the attempts are bounded";
}

TEST_F(ManagerOverFake, ServiceRestartReportsRemovalsThenFindsReadersAgain) {
    lib.AddReader("A");
    lib.AddReader("B");
    TPCSC& m = StartManager();
    ASSERT_TRUE(RunUntil([&] { return recorder.Starting("card-removed").size() == 2; }));

    lib.SetService(false);
    ASSERT_TRUE(RunUntil([&] { return recorder.Has("removed A") && recorder.Has("removed B"); }));
    EXPECT_TRUE(m.ReaderList().empty());
    EXPECT_EQ(recorder.Starting("removed"), (std::vector<std::string>{"removed B", "removed A"}))
        << "removals in reverse list order";

    lib.AddReader("C");
    lib.SetService(true);  // a new service: the old contexts never work again
    ASSERT_TRUE(
        RunUntil([&] { return recorder.Count("found A") == 2 && recorder.Has("found C"); }));
    EXPECT_EQ(recorder.Count("found B"), 2u);
    ASSERT_EQ(m.ReaderList().size(), 3u);

    // Card events keep coming: the readers made after the outage have
    // contexts of the new service.
    recorder.events.clear();
    lib.SetReaderState("C", SCARD_STATE_PRESENT, {0x3B, 0x00});
    ASSERT_TRUE(RunUntilEvent("inserted C 3B 00"));
    lib.SetReaderState("A", SCARD_STATE_PRESENT, {0x3B, 0x11});
    ASSERT_TRUE(RunUntilEvent("inserted A 3B 11"));
}

TEST_F(ManagerOverFake, ReaderDetailsFromAttributesAndControlReply) {
    lib.AddReader("Vendor reader");
    lib.SetControlReply("Vendor reader",
                        {0x00, 0x00, 0x00, 0x00, 0x02, 0x05, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00});
    lib.SetAttrib("Vendor reader", SCARD_ATTR_VENDOR_NAME, {'A', 'C', 'M', 'E', 0});
    lib.SetAttrib("Vendor reader", SCARD_ATTR_VENDOR_IFD_SERIAL_NO, {'S', 'N', '4', '2', 0});
    lib.SetAttrib("Vendor reader", SCARD_ATTR_DEVICE_FRIENDLY_NAME_A, {'C', 'a', 'r', 't', 'e', 0});
    lib.AddReader("With IFD version");
    lib.SetControlReply("With IFD version",
                        {0x00, 0x00, 0x00, 0x00, 0x02, 0x05, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00});
    const std::uint32_t version = 0x01230456;
    std::vector<unsigned char> versionBytes(4);
    std::memcpy(versionBytes.data(), &version, 4);
    lib.SetAttrib("With IFD version", SCARD_ATTR_VENDOR_IFD_VERSION, versionBytes);
    lib.AddReader("Short reply");
    lib.SetControlReply("Short reply", {0x00, 0x00, 0x00, 0x00, 0x09});
    lib.AddReader("Plain");

    TPCSC& m = StartManager();
    ASSERT_TRUE(RunUntilEvent("found Plain"));

    const TPCSCReader* vendor = m.GetPCSCReader(u"Vendor reader");
    EXPECT_EQ(vendor->VendorName(), u"ACME");
    EXPECT_EQ(vendor->Serial(), u"SN42");
    EXPECT_EQ(vendor->DisplayName(), u"Carte");
    EXPECT_EQ(vendor->DrvMajor(), 2);
    EXPECT_EQ(vendor->DrvMinor(), 5);
    EXPECT_EQ(vendor->FirmwareMajor(), 1) << "from the control reply: no version attribute";
    EXPECT_EQ(vendor->FirmwareMinor(), 3);
    EXPECT_EQ(lib.LastArg("SCardControl", 1), platform::SmartCardCtlCode(2049));
    EXPECT_EQ(vendor->CardHandle(), kNoCardHandle) << "the direct connection is closed again";

    const TPCSCReader* ifd = m.GetPCSCReader(u"With IFD version");
    EXPECT_EQ(ifd->FirmwareMajor(), 1) << "the version attribute overrides the reply";
    EXPECT_EQ(ifd->FirmwareMinor(), 23);
    EXPECT_EQ(ifd->DrvMajor(), 2);

    const TPCSCReader* shortReply = m.GetPCSCReader(u"Short reply");
    EXPECT_EQ(shortReply->DrvMajor(), 0) << "a reply without the version bytes changes nothing";
    EXPECT_EQ(shortReply->FirmwareMajor(), 0);
    EXPECT_FALSE(shortReply->DriverVersionRead());

    const TPCSCReader* plain = m.GetPCSCReader(u"Plain");
    EXPECT_EQ(plain->DisplayName(), u"Plain") << "no friendly name: the reader name";
    EXPECT_EQ(plain->VendorName(), u"");
    EXPECT_FALSE(plain->DriverVersionRead());
    EXPECT_FALSE(plain->FirmwareVersionRead());
}

TEST_F(ManagerOverFake, DetailsAreNotReadWhenTurnedOff) {
    lib.AddReader("R");
    lib.SetAttrib("R", SCARD_ATTR_VENDOR_NAME, {'A', 0});
    TPCSC& m = StartManager(false);
    m.SetGetReaderDetails(false);
    m.Start();
    ASSERT_TRUE(RunUntilEvent("found R"));
    EXPECT_EQ(lib.Calls("SCardConnect"), 0);
    EXPECT_EQ(m.GetPCSCReader(u"R")->VendorName(), u"");
}

// ---- Shutdown ----------------------------------------------------------------

TEST_F(ManagerOverFake, DestroyRightAfterStartReleasesEverything) {
    lib.AddReader("R");
    for (int i = 0; i < 20; ++i) {
        StartManager();
        manager.reset();
    }
    EXPECT_EQ(lib.OpenContexts(), 0);
}

TEST_F(ManagerOverFake, DestroyNeverStartedReleasesTheWatchersContext) {
    StartManager(false);
    EXPECT_EQ(lib.OpenContexts(), 2) << "the manager's and the watcher's";
    manager.reset();
    EXPECT_EQ(lib.OpenContexts(), 0);
}

TEST_F(ManagerOverFake, DestroyWhileTheWatcherIsBlockedInAHandOver) {
    lib.AddReader("R");
    StartManager();
    ASSERT_TRUE(RunUntilEvent("found R"));
    // The main thread stops serving: the watcher's next hand-over blocks.
    // Give it time to get there (a guard, not a measure).
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::size_t seen = recorder.events.size();
    manager.reset();  // must neither deadlock nor wait for the full second
    RunFor(std::chrono::milliseconds(50));
    EXPECT_EQ(recorder.events.size(), seen) << "no hand-over ran against the freed manager";
    EXPECT_EQ(lib.OpenContexts(), 0);
}

TEST_F(ManagerOverFake, DestroyFromInsideAnEventHandler) {
    lib.AddReader("R");
    lib.AddReader("S");
    TPCSC& m = StartManager();
    m.SetOnReaderFound([this](TPCSC*, const std::u16string&) { manager.reset(); });
    ASSERT_TRUE(RunUntil([&] { return manager == nullptr; }));
    RunFor(std::chrono::milliseconds(50));
    EXPECT_EQ(lib.OpenContexts(), 0);
}

TEST_F(ManagerOverFake, DestroyFromInsideTheCardStateHandler) {
    lib.AddReader("R");
    lib.AddReader("S");
    TPCSC& m = StartManager();
    m.SetOnCardStateChanged([this](TPCSC*, const std::u16string&) { manager.reset(); });
    ASSERT_TRUE(RunUntil([&] { return manager == nullptr; }));
    RunFor(std::chrono::milliseconds(50));
    EXPECT_EQ(lib.OpenContexts(), 0);
}

TEST_F(ManagerOverFake, ManagerThatNeverReachedTheService) {
    lib.SetService(false);
    TPCSC& m = StartManager(false);
    EXPECT_FALSE(m.Valid());
    manager.reset();
    EXPECT_EQ(lib.Calls("SCardCancel"), 0) << "no context was established: nothing to cancel";
    EXPECT_EQ(lib.Calls("SCardReleaseContext"), 0);
}

TEST_F(ManagerOverFake, MissingLibraryGivesAnInvalidManager) {
    setenv("VARDEL_PCSC_LIBRARY", "/nonexistent/libpcsclite.so.1", 1);
    TPCSC& m = StartManager();
    EXPECT_FALSE(m.Valid());
    RunCycles(3);
    EXPECT_TRUE(recorder.events.empty());
    manager.reset();
}
