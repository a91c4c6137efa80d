// The service check over the fake smart-card library, with a plain main loop
// on the test's thread as the window's message loop: what the pane holds
// after the press and once the manager's events have come out of the idle
// handler, and what is left of a manager replaced by a second press.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "FakePcscClient.h"
#include "PanePrinting.h"
#include "checks/ServiceCheck.h"
#include "pcsc/MainThread.h"

using namespace checks;

namespace {

const ReportPiece kConnected{u"Connecté au service\r\n", kBold, kGreen};
const ReportPiece kListTitle{u"Liste des lecteurs :\r\n", kUnderline, kBlack};
const ReportPiece kNotConnected{u"Erreur lors de la connexion au service\r\n", kBold, kRed};

class ServiceCheckOverFake : public ::testing::Test {
protected:
    ServiceCheckOverFake() : lib(FAKE_PCSC_PATH) { pcsc::SetMainThread(&loop); }
    ~ServiceCheckOverFake() override {
        // While the loop is still the main thread: the manager's stop cancels
        // its watcher's hand-over there.
        check.Stop();
        pcsc::SetMainThread(nullptr);
    }

    // Serves the loop until done() or 10 s (a guard against a hang, not a
    // measure); returns done()'s last value.
    bool RunUntil(const std::function<bool()>& done) {
        return loop.RunUntil(done, std::chrono::steady_clock::now() + std::chrono::seconds(10));
    }
    bool RunUntilPieces(std::size_t count) {
        return RunUntil([&] { return pane.Pieces().size() >= count; });
    }
    // Until the current manager has listed at least `listings` times and
    // every event it queued has been dispatched.
    bool RunUntilListed(unsigned listings = 1) {
        return RunUntil([&] {
            const pcsc::TPCSC* m = check.Manager();
            return m && m->ListingsDone() >= listings && m->PendingEvents() == 0;
        });
    }

    fake::Library lib;
    pcsc::PlainMainLoop loop;
    RecordingPane pane;
    ServiceCheck check{pane};
};

}  // namespace

TEST_F(ServiceCheckOverFake, TwoReadersFollowTheHeadingsInServiceOrderWithoutFurtherInput) {
    lib.AddReader("Lecteur B");
    lib.AddReader("Lecteur A");
    pane.Append(u"ancien rapport\r\n", kBold, kRed);

    check.btn_configClick();
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kConnected, kListTitle}))
        << "the press clears the pane and writes the headings only";
    ASSERT_NE(check.Manager(), nullptr);
    EXPECT_TRUE(check.Manager()->Valid());

    ASSERT_TRUE(RunUntilPieces(4));
    ASSERT_TRUE(RunUntilListed());
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kConnected, kListTitle, Entry(u"Lecteur B"),
                                                       Entry(u"Lecteur A")}));
}

TEST_F(ServiceCheckOverFake, NoReaderLeavesTheHeadingsAloneAndAReaderAttachedLaterIsAppended) {
    check.btn_configClick();
    ASSERT_TRUE(RunUntilListed());
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kConnected, kListTitle}));

    lib.AddReader("Lecteur tardif");
    ASSERT_TRUE(RunUntilPieces(3));
    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{kConnected, kListTitle, Entry(u"Lecteur tardif")}));
}

TEST_F(ServiceCheckOverFake, ServiceDownWritesTheFailureLineAloneAndStartsNothing) {
    lib.AddReader("Lecteur A");
    lib.SetService(false);

    check.btn_configClick();
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kNotConnected}));
    ASSERT_NE(check.Manager(), nullptr);
    EXPECT_FALSE(check.Manager()->Valid());
    EXPECT_EQ(lib.OpenContexts(), 0);

    // The idle handler skips a manager that is not valid.
    bool done = false;
    check.AppIdle(done);
    EXPECT_TRUE(done);
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kNotConnected}));

    // Pressing again repeats the attempt with a new manager.
    lib.SetService(true);
    check.btn_configClick();
    ASSERT_TRUE(RunUntilPieces(3));
    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{kConnected, kListTitle, Entry(u"Lecteur A")}));
}

TEST_F(ServiceCheckOverFake, AReaderThatAppearsAfterAServiceRestartIsAppended) {
    lib.AddReader("Lecteur A");
    check.btn_configClick();
    ASSERT_TRUE(RunUntilPieces(3));
    ASSERT_TRUE(RunUntilListed());

    // The manager sees the service go (its readers are removed, no line is
    // written) before a new service comes up with one more reader.
    const unsigned before = check.Manager()->ListingsDone();
    lib.SetService(false);
    ASSERT_TRUE(RunUntilListed(before + 1));
    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{kConnected, kListTitle, Entry(u"Lecteur A")}));
    EXPECT_TRUE(check.Manager()->ReaderList().empty());

    lib.AddReader("Lecteur B");
    lib.SetService(true);
    ASSERT_TRUE(RunUntilPieces(5));
    ASSERT_TRUE(RunUntilListed());
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kConnected, kListTitle, Entry(u"Lecteur A"),
                                                       Entry(u"Lecteur A"), Entry(u"Lecteur B")}));
}

TEST_F(ServiceCheckOverFake, ASecondPressListsTheReadersOnceAndTheFirstManagerIsGone) {
    lib.AddReader("Lecteur A");
    check.btn_configClick();
    ASSERT_TRUE(RunUntilPieces(3));
    ASSERT_TRUE(RunUntilListed());
    // The manager's, its watcher's and its reader's contexts.
    const long contextsOfOneManager = lib.OpenContexts();
    EXPECT_EQ(contextsOfOneManager, 3);

    check.btn_configClick();
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kConnected, kListTitle}));
    ASSERT_TRUE(RunUntilPieces(3));
    ASSERT_TRUE(RunUntilListed());
    // A few more passes: a first manager still running would add its line.
    const unsigned listed = check.Manager()->ListingsDone();
    int passes = 0;
    loop.SetIdleHook([&] {
        bool done = true;
        check.AppIdle(done);
        ++passes;
    });
    ASSERT_TRUE(RunUntil([&] { return passes >= 5; }));
    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{kConnected, kListTitle, Entry(u"Lecteur A")}));
    EXPECT_EQ(check.Manager()->ListingsDone(), listed);
    EXPECT_EQ(lib.OpenContexts(), contextsOfOneManager)
        << "the first manager's contexts are released";

    check.Stop();
    EXPECT_EQ(check.Manager(), nullptr);
    EXPECT_EQ(lib.OpenContexts(), 0);
}
