// The reader manager against the real pcsc-lite service of the lab: readers
// found and lost, cards inserted, taken and removed, the service stopped and
// restarted under it. The test's main thread runs a PlainMainLoop whose idle
// hook dispatches the manager's queue, as the application's idle handler does.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Lab.h"
#include "pcsc/PCSC.h"

using namespace pcsc;

namespace {

// Long enough for the watcher's once-a-second reconnection attempts to fail.
constexpr std::chrono::milliseconds kOutage{1500};

const std::u16string R0 = lab::ReaderName(0);
const std::u16string R1 = lab::ReaderName(1);
const std::u16string R2 = lab::ReaderName(2);
const std::u16string R3 = lab::ReaderName(3);

using lab::Background;
using lab::kGuard;
using lab::Narrow;
using lab::Packed;
using lab::StateName;

using Log = std::vector<std::string>;

class ManagerLab : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(std::getenv("VARDEL_PCSC_LIBRARY"), nullptr)
            << "the lab tests use the system library";
        lab::Readers(2);
        lab::CardOut(0);
        lab::CardOut(1);
        SetMainThread(&loop);
        loop.SetIdleHook([this] {
            ++idlePasses;
            if (!manager) return;
            inIdle = true;
            manager->ProcessEvent();
            inIdle = false;
        });
    }
    void TearDown() override {
        manager.reset();
        loop.SetIdleHook({});
    }

    // A started manager whose every handler writes to the log: queued events
    // as "reader-found", "reader-removed", "card-inserted <ATR>",
    // "card-removed", "card-error"; the direct state-change callback as
    // "state <state> [<ATRasString>]", with what the reader shows then.
    void StartManager() {
        manager = std::make_unique<TPCSC>();
        ASSERT_TRUE(manager->Valid());
        const auto queued = [this](const char* what) {
            return [this, what](TPCSC* sender, const std::u16string& name) {
                Record(sender, name, what, true);
            };
        };
        manager->SetOnReaderFound(queued("reader-found"));
        manager->SetOnReaderRemoved(queued("reader-removed"));
        manager->SetOnCardRemoved(queued("card-removed"));
        manager->SetOnCardError(queued("card-error"));
        manager->SetOnCardInserted(
            [this](TPCSC* sender, const std::u16string& name, const Bytes& atr) {
                Record(sender, name, "card-inserted " + Narrow(BytesToHexString(atr)), true);
            });
        manager->SetOnCardStateChanged([this](TPCSC* sender, const std::u16string& name) {
            const TPCSCReader* reader = manager->GetPCSCReader(name);
            ASSERT_NE(reader, nullptr) << Narrow(name);
            std::string what = "state " + StateName(reader->CardState());
            if (!reader->ATR().empty()) what += " " + Narrow(reader->ATRasString());
            Record(sender, name, what, false);
        });
        manager->Start();
    }

    void Record(TPCSC* sender, const std::u16string& name, const std::string& what,
                bool fromQueue) {
        EXPECT_EQ(sender, manager.get());
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        // Queued events reach the application from its idle processing only,
        // the state change from inside the watcher's tick.
        EXPECT_EQ(inIdle, fromQueue) << what << " " << Narrow(name);
        log.emplace_back(name, what);
    }

    // Everything the manager reported about one reader, in order.
    Log All(const std::u16string& name) const {
        Log out;
        for (const auto& [reader, what] : log) {
            if (reader == name) out.push_back(what);
        }
        return out;
    }
    // Only the queued events, or only the state changes, of one reader.
    Log Queued(const std::u16string& name) const { return Filter(name, false); }
    Log Changes(const std::u16string& name) const { return Filter(name, true); }
    Log Filter(const std::u16string& name, bool changes) const {
        Log out;
        for (const std::string& what : All(name)) {
            if ((what.rfind("state ", 0) == 0) == changes) out.push_back(what);
        }
        return out;
    }
    // What one reader's handlers received: its queued events and its state
    // changes each in order, and every card event after the state change that
    // posted it (the order against reader-found is the loop's: a listing and
    // the tick after it may run before the loop goes idle, or not).
    void ExpectStory(const std::u16string& name, const Log& queued, const Log& changes) const {
        SCOPED_TRACE(Narrow(name));
        EXPECT_EQ(Queued(name), queued) << Dump();
        EXPECT_EQ(Changes(name), changes) << Dump();
        std::size_t states = 0, cards = 0;
        for (const std::string& what : All(name)) {
            if (what.rfind("state ", 0) == 0) {
                ++states;
            } else if (what.rfind("card-", 0) == 0) {
                EXPECT_LT(cards++, states) << what << " before its state change\n" << Dump();
            }
        }
    }
    // The reader-found and reader-removed events of every reader, in order.
    Log ReaderEvents() const {
        Log out;
        for (const auto& [reader, what] : log) {
            if (what.rfind("reader-", 0) == 0) out.push_back(what + " " + Narrow(reader));
        }
        return out;
    }
    std::string Dump() const {
        std::string text = "events so far:";
        for (const auto& [reader, what] : log) text += "\n  " + Narrow(reader) + ": " + what;
        return text;
    }

    // Serves the loop until `done`; false when the guard ran out first.
    bool WaitFor(const std::function<bool()>& done) {
        return loop.RunUntil(done, std::chrono::steady_clock::now() + kGuard);
    }
    bool WaitForQueued(const std::u16string& name, std::size_t count) {
        return WaitFor([&] { return Queued(name).size() >= count; });
    }
    // Lets the manager poll a few more times: a change it should not report
    // would show up in the log meanwhile.
    bool Settle(unsigned passes = 5) {
        const unsigned until = idlePasses + passes;
        return WaitFor([&] { return idlePasses >= until; });
    }
    // Keeps the loop served for a while, whatever happens.
    void Serve(std::chrono::milliseconds duration) {
        loop.RunUntil([] { return false; }, std::chrono::steady_clock::now() + duration);
    }
    // Runs a lab command while the manager goes on running.
    std::string RunServed(const std::string& command) {
        Background job(command);
        EXPECT_TRUE(WaitFor([&] { return job.Done(); })) << command << " did not end";
        return job.Get();
    }

    // The names as the service lists them now, on a context of the test's own.
    static StringList ServiceReaders() {
        TPCSCRaw raw;
        EXPECT_TRUE(raw.Initialize());
        Handle context = 0;
        EXPECT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context),
                  SCARD_S_SUCCESS);
        std::uint32_t size = 0;
        EXPECT_EQ(raw.SCardListReaders(context, nullptr, nullptr, size), SCARD_S_SUCCESS);
        std::u16string buffer(size, u'\0');
        EXPECT_EQ(raw.SCardListReaders(context, nullptr, buffer.data(), size), SCARD_S_SUCCESS);
        StringList names;
        ReaderMultiStringToList(buffer.data(), static_cast<std::int32_t>(size), &names);
        raw.SCardReleaseContext(context);
        return names;
    }
    StringList ManagerReaders() const {
        StringList names;
        for (const auto& [name, reader] : manager->ReaderList()) {
            EXPECT_EQ(reader->ReaderName(), name);
            names.push_back(name);
        }
        return names;
    }

    // Starts the manager and waits for the two empty readers: found, then
    // polled once (a removal, although no card was seen).
    void StartWithTwoEmptyReaders() {
        ASSERT_NO_FATAL_FAILURE(StartManager());
        ASSERT_TRUE(WaitFor([&] { return Queued(R0).size() >= 2 && Queued(R1).size() >= 2; }))
            << Dump();
        ASSERT_EQ(Queued(R0), (Log{"reader-found", "card-removed"})) << Dump();
        ASSERT_EQ(Queued(R1), (Log{"reader-found", "card-removed"})) << Dump();
    }

    PlainMainLoop loop;
    const std::thread::id mainThread = std::this_thread::get_id();
    std::unique_ptr<TPCSC> manager;
    std::vector<std::pair<std::u16string, std::string>> log;
    unsigned idlePasses = 0;
    bool inIdle = false;
};

}  // namespace

TEST_F(ManagerLab, FindsTheReadersInTheServicesOrder) {
    ASSERT_NO_FATAL_FAILURE(StartWithTwoEmptyReaders());
    EXPECT_EQ(ReaderEvents(), (Log{"reader-found " + Narrow(R0), "reader-found " + Narrow(R1)}))
        << Dump();
    EXPECT_EQ(ManagerReaders(), ServiceReaders());
    EXPECT_EQ(ManagerReaders(), (StringList{R0, R1}));
    // The first poll of an empty reader reports a removal.
    ExpectStory(R0, {"reader-found", "card-removed"}, {"state no-card"});
    ExpectStory(R1, {"reader-found", "card-removed"}, {"state no-card"});

    TPCSCReader* first = manager->GetPCSCReader(R0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->ReaderName(), R0);
    ASSERT_NE(manager->GetPCSCReader(R1), nullptr);
    EXPECT_EQ(manager->GetPCSCReader(R1)->ReaderName(), R1);
    EXPECT_NE(manager->GetPCSCReader(R1), first);
    // Names are compared exactly.
    EXPECT_EQ(manager->GetPCSCReader(u"lab reader 0 00 00"), nullptr);
    EXPECT_EQ(manager->GetPCSCReader(u"LAB READER 0 00 00"), nullptr);
    EXPECT_EQ(manager->GetPCSCReader(u"Lab Reader 0 00 0"), nullptr);
    EXPECT_EQ(manager->GetPCSCReader(u""), nullptr);

    // Details were read at discovery through a direct connection, now closed;
    // vpcd has no attribute, so the display name is the reader's name.
    for (const std::u16string& name : {R0, R1}) {
        const TPCSCReader* reader = manager->GetPCSCReader(name);
        EXPECT_EQ(reader->DisplayName(), name);
        EXPECT_EQ(reader->VendorName(), u"");
        EXPECT_EQ(reader->Serial(), u"");
        EXPECT_EQ(reader->DrvMajor(), 0);
        EXPECT_EQ(reader->DrvMinor(), 0);
        EXPECT_EQ(reader->FirmwareMajor(), 0);
        EXPECT_EQ(reader->FirmwareMinor(), 0);
        EXPECT_FALSE(reader->DriverVersionRead());
        EXPECT_FALSE(reader->FirmwareVersionRead());
        EXPECT_EQ(reader->CardHandle(), kNoCardHandle);
        EXPECT_EQ(reader->Protocol(), TPcscProtocol::prNC);
        EXPECT_EQ(reader->CardState(), TCardState::csNoCard);
    }

    // Nothing else happens while nothing changes.
    ASSERT_TRUE(Settle());
    EXPECT_EQ(log.size(), 6u) << Dump();
    EXPECT_EQ(manager->PendingEvents(), 0u);
}

TEST_F(ManagerLab, ReportsCardsInsertedAndRemovedPerReader) {
    ASSERT_NO_FATAL_FAILURE(StartWithTwoEmptyReaders());

    const std::string t0 = lab::CardIn(1, "3B 02 14 50");
    ASSERT_EQ(t0, "3B 02 14 50");
    ASSERT_TRUE(WaitForQueued(R1, 3)) << Dump();
    // The state change comes during the tick, the insertion through the queue.
    ExpectStory(R1, {"reader-found", "card-removed", "card-inserted 3B 02 14 50"},
                {"state no-card", "state available 3B021450"});
    EXPECT_EQ(manager->GetPCSCReader(R1)->ATRasString(), u"3B021450");
    EXPECT_EQ(manager->GetPCSCReader(R1)->ATR(), (Bytes{0x3B, 0x02, 0x14, 0x50}));
    EXPECT_EQ(manager->GetPCSCReader(R1)->CardState(), TCardState::csAvailable);

    const std::string t1 = lab::CardIn(0);
    ASSERT_TRUE(WaitForQueued(R0, 3)) << Dump();
    ExpectStory(R0, {"reader-found", "card-removed", "card-inserted " + t1},
                {"state no-card", "state available " + Packed(t1)});
    EXPECT_EQ(Narrow(manager->GetPCSCReader(R0)->ATRasString()), Packed(t1));

    lab::CardOut(1);
    ASSERT_TRUE(WaitForQueued(R1, 4)) << Dump();
    ExpectStory(R1, {"reader-found", "card-removed", "card-inserted 3B 02 14 50", "card-removed"},
                {"state no-card", "state available 3B021450", "state no-card"});
    EXPECT_TRUE(manager->GetPCSCReader(R1)->ATR().empty());
    EXPECT_EQ(manager->GetPCSCReader(R1)->CardState(), TCardState::csNoCard);

    lab::CardOut(0);
    ASSERT_TRUE(WaitForQueued(R0, 4)) << Dump();
    ASSERT_TRUE(Settle());
    ExpectStory(R0, {"reader-found", "card-removed", "card-inserted " + t1, "card-removed"},
                {"state no-card", "state available " + Packed(t1), "state no-card"});
    EXPECT_EQ(Queued(R1).size(), 4u) << Dump();
    EXPECT_EQ(ReaderEvents().size(), 2u) << Dump();
}

// A card already in at start is reported once found; the direct connection
// that read the details must be gone by then, or the card would look taken.
TEST_F(ManagerLab, CardPresentAtStartIsReportedInserted) {
    const std::string atr = lab::CardIn(1, "3B 02 14 50");
    ASSERT_NO_FATAL_FAILURE(StartManager());
    ASSERT_TRUE(WaitFor([&] { return Queued(R0).size() >= 2 && Queued(R1).size() >= 2; }))
        << Dump();
    ASSERT_TRUE(Settle());
    ExpectStory(R0, {"reader-found", "card-removed"}, {"state no-card"});
    ExpectStory(R1, {"reader-found", "card-inserted " + atr}, {"state available 3B021450"});
    const TPCSCReader* reader = manager->GetPCSCReader(R1);
    EXPECT_EQ(reader->CardState(), TCardState::csAvailable);
    EXPECT_EQ(reader->CardHandle(), kNoCardHandle);
    EXPECT_EQ(reader->DisplayName(), R1);
}

TEST_F(ManagerLab, CardTakenByAnotherConnectionShowsWithoutCallback) {
    ASSERT_NO_FATAL_FAILURE(StartWithTwoEmptyReaders());
    const std::string atr = lab::CardIn(0);
    ASSERT_TRUE(WaitForQueued(R0, 3)) << Dump();
    Log queued = {"reader-found", "card-removed", "card-inserted " + atr};
    Log changes = {"state no-card", "state available " + Packed(atr)};
    ExpectStory(R0, queued, changes);
    TPCSCReader* watched = manager->GetPCSCReader(R0);
    ASSERT_NE(watched, nullptr);

    // Another connection to the same card, on a binding of its own.
    auto otherRaw = std::make_shared<TPCSCRaw>();
    ASSERT_TRUE(otherRaw->Initialize());
    TPCSCReader other(R0, otherRaw);
    for (const std::uint32_t mode : {SCARD_SHARE_EXCLUSIVE, SCARD_SHARE_SHARED}) {
        const TCardState held =
            mode == SCARD_SHARE_EXCLUSIVE ? TCardState::csExclusive : TCardState::csShared;
        SCOPED_TRACE(StateName(held));
        ASSERT_EQ(other.Connect(mode), SCARD_S_SUCCESS);
        ASSERT_TRUE(WaitFor([&] { return watched->CardState() == held; }))
            << StateName(watched->CardState());
        ASSERT_TRUE(Settle());
        ExpectStory(R0, queued, changes);
        EXPECT_EQ(Narrow(watched->ATRasString()), Packed(atr));  // kept while taken
        EXPECT_EQ(watched->CardHandle(), kNoCardHandle);         // the manager never connects

        // Let go: available again, reported as a fresh insertion.
        ASSERT_EQ(other.Disconnect(SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
        ASSERT_TRUE(WaitForQueued(R0, queued.size() + 1)) << Dump();
        queued.push_back("card-inserted " + atr);
        changes.push_back("state available " + Packed(atr));
        ExpectStory(R0, queued, changes);
        EXPECT_EQ(watched->CardState(), TCardState::csAvailable);
    }

    // The manager's own reader object connected: the same, seen by its poll.
    ASSERT_EQ(watched->Connect(SCARD_SHARE_SHARED), SCARD_S_SUCCESS);
    EXPECT_EQ(watched->Protocol(), TPcscProtocol::prT1);
    ASSERT_TRUE(WaitFor([&] { return watched->CardState() == TCardState::csShared; }))
        << StateName(watched->CardState());
    std::uint16_t sw = 0;
    Bytes out;
    EXPECT_EQ(watched->TransmitSW({0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00}, out, sw),
              SCARD_S_SUCCESS);
    EXPECT_EQ(sw, 0x9000);
    EXPECT_EQ(watched->ResetCard(true), SCARD_S_SUCCESS);
    ASSERT_TRUE(Settle());
    ExpectStory(R0, queued, changes);
    ASSERT_EQ(watched->Disconnect(SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    ASSERT_TRUE(WaitForQueued(R0, queued.size() + 1)) << Dump();
    queued.push_back("card-inserted " + atr);
    changes.push_back("state available " + Packed(atr));
    ExpectStory(R0, queued, changes);

    // The other reader saw none of it.
    ExpectStory(R1, {"reader-found", "card-removed"}, {"state no-card"});
}

TEST_F(ManagerLab, ServiceStoppedAndStartedAgain) {
    ASSERT_NO_FATAL_FAILURE(StartWithTwoEmptyReaders());
    const std::string atr = lab::CardIn(0);
    ASSERT_TRUE(WaitForQueued(R0, 3)) << Dump();

    RunServed("lab-service stop");
    ASSERT_TRUE(WaitFor([&] { return ReaderEvents().size() >= 4; })) << Dump();
    Serve(kOutage);
    // Every known reader is reported removed, in reverse list order, and
    // nothing else: the card went with its reader.
    EXPECT_EQ(ReaderEvents(), (Log{"reader-found " + Narrow(R0), "reader-found " + Narrow(R1),
                                   "reader-removed " + Narrow(R1), "reader-removed " + Narrow(R0)}))
        << Dump();
    EXPECT_EQ(log.size(), 10u) << Dump();
    EXPECT_TRUE(manager->ReaderList().empty());
    EXPECT_EQ(manager->GetPCSCReader(R0), nullptr);
    EXPECT_EQ(manager->GetPCSCReader(R1), nullptr);

    RunServed("lab-service start");
    ASSERT_TRUE(WaitFor([&] { return Queued(R0).size() >= 6 && Queued(R1).size() >= 5; }))
        << Dump();
    EXPECT_EQ(ManagerReaders(), (StringList{R0, R1}));
    EXPECT_EQ(ReaderEvents(), (Log{"reader-found " + Narrow(R0), "reader-found " + Narrow(R1),
                                   "reader-removed " + Narrow(R1), "reader-removed " + Narrow(R0),
                                   "reader-found " + Narrow(R0), "reader-found " + Narrow(R1)}))
        << Dump();
    // Found again as new readers, each polled afresh: cards do not survive.
    ExpectStory(R0,
                {"reader-found", "card-removed", "card-inserted " + atr, "reader-removed",
                 "reader-found", "card-removed"},
                {"state no-card", "state available " + Packed(atr), "state no-card"});
    ExpectStory(R1,
                {"reader-found", "card-removed", "reader-removed", "reader-found", "card-removed"},
                {"state no-card", "state no-card"});

    // The restarted service goes on reporting cards.
    const std::string t0 = lab::CardIn(1, "3B 02 14 50");
    ASSERT_TRUE(WaitForQueued(R1, 6)) << Dump();
    EXPECT_EQ(Queued(R1).back(), "card-inserted " + t0) << Dump();
    EXPECT_EQ(manager->GetPCSCReader(R1)->ATRasString(), u"3B021450");
    lab::CardOut(1);
    ASSERT_TRUE(WaitForQueued(R1, 7)) << Dump();
    ASSERT_TRUE(Settle());
    ExpectStory(R1,
                {"reader-found", "card-removed", "reader-removed", "reader-found", "card-removed",
                 "card-inserted 3B 02 14 50", "card-removed"},
                {"state no-card", "state no-card", "state available 3B021450", "state no-card"});
    EXPECT_EQ(Queued(R0).size(), 6u) << Dump();
}

TEST_F(ManagerLab, ServiceBackWithTwoMoreReaders) {
    ASSERT_NO_FATAL_FAILURE(StartWithTwoEmptyReaders());

    RunServed("lab-service stop");
    ASSERT_TRUE(WaitFor([&] { return ReaderEvents().size() >= 4; })) << Dump();
    Serve(kOutage);
    RunServed("lab-up 4");
    ASSERT_TRUE(WaitFor([&] {
        return Queued(R0).size() >= 5 && Queued(R1).size() >= 5 && Queued(R2).size() >= 2 &&
               Queued(R3).size() >= 2;
    })) << Dump();
    EXPECT_EQ(ManagerReaders(), ServiceReaders());
    EXPECT_EQ(ManagerReaders(), (StringList{R0, R1, R2, R3}));
    EXPECT_EQ(ReaderEvents(), (Log{"reader-found " + Narrow(R0), "reader-found " + Narrow(R1),
                                   "reader-removed " + Narrow(R1), "reader-removed " + Narrow(R0),
                                   "reader-found " + Narrow(R0), "reader-found " + Narrow(R1),
                                   "reader-found " + Narrow(R2), "reader-found " + Narrow(R3)}))
        << Dump();
    for (const std::u16string& name : {R0, R1}) {
        ExpectStory(
            name,
            {"reader-found", "card-removed", "reader-removed", "reader-found", "card-removed"},
            {"state no-card", "state no-card"});
    }
    for (const std::u16string& name : {R2, R3}) {
        ExpectStory(name, {"reader-found", "card-removed"}, {"state no-card"});
        EXPECT_EQ(manager->GetPCSCReader(name)->DisplayName(), name);
    }

    const std::string atr = lab::CardIn(3);
    ASSERT_TRUE(WaitForQueued(R3, 3)) << Dump();
    ExpectStory(R3, {"reader-found", "card-removed", "card-inserted " + atr},
                {"state no-card", "state available " + Packed(atr)});
    lab::CardIn(0, "3B 02 14 50");
    ASSERT_TRUE(WaitForQueued(R0, 6)) << Dump();
    EXPECT_EQ(Queued(R0).back(), "card-inserted 3B 02 14 50") << Dump();
    EXPECT_EQ(Changes(R0).back(), "state available 3B021450") << Dump();
}

// The main thread busy through a whole restart: the manager never sees the
// service down, so its listing afterwards renews the context and finds only
// the new readers; the old reader objects get contexts of their own again.
TEST_F(ManagerLab, RestartWhileTheMainThreadIsBusy) {
    ASSERT_NO_FATAL_FAILURE(StartWithTwoEmptyReaders());
    const std::string atr = lab::CardIn(0);
    ASSERT_TRUE(WaitForQueued(R0, 3)) << Dump();
    TPCSCReader* first = manager->GetPCSCReader(R0);

    lab::Readers(4);  // stops and restarts the service without serving the loop
    ASSERT_TRUE(WaitFor([&] {
        return Queued(R2).size() >= 2 && Queued(R3).size() >= 2 && Queued(R0).size() >= 4;
    })) << Dump();
    EXPECT_EQ(ManagerReaders(), (StringList{R0, R1, R2, R3}));
    EXPECT_EQ(manager->GetPCSCReader(R0), first);
    EXPECT_EQ(ReaderEvents(), (Log{"reader-found " + Narrow(R0), "reader-found " + Narrow(R1),
                                   "reader-found " + Narrow(R2), "reader-found " + Narrow(R3)}))
        << Dump();
    // The card did not survive the restart.
    ExpectStory(R0, {"reader-found", "card-removed", "card-inserted " + atr, "card-removed"},
                {"state no-card", "state available " + Packed(atr), "state no-card"});

    lab::CardIn(0, "3B 02 14 50");
    ASSERT_TRUE(WaitForQueued(R0, 5)) << Dump();
    EXPECT_EQ(Queued(R0).back(), "card-inserted 3B 02 14 50") << Dump();
    const std::string t2 = lab::CardIn(2);
    ASSERT_TRUE(WaitForQueued(R2, 3)) << Dump();
    ExpectStory(R2, {"reader-found", "card-removed", "card-inserted " + t2},
                {"state no-card", "state available " + Packed(t2)});
    ASSERT_TRUE(Settle());
    ExpectStory(R1, {"reader-found", "card-removed"}, {"state no-card"});
}
