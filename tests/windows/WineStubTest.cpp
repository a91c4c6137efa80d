// The checks over the winscard.dll of Debian 12's Wine 8, a stub that
// establishes no context (SCARD_F_INTERNAL_ERROR) and raises an
// "unimplemented function" exception from SCardGetStatusChangeW,
// SCardConnectW, SCardGetAttrib and SCardControl. The establish failure must
// be reported exactly, and nothing may call a raising function on the way:
// such a call ends this process, and the test runner fails the run.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "checks/ServiceCheck.h"
#include "checks/safeModule.h"
#include "pcsc/MainThread.h"
#include "pcsc/PCSC.h"

using namespace checks;
using namespace std::chrono_literals;

TEST(WineStub, TheBindingIsCompleteButEstablishesNothing) {
    pcsc::TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize()) << "every required entry point is exported";
    pcsc::Handle context = 0;
    EXPECT_EQ(raw.SCardEstablishContext(pcsc::SCARD_SCOPE_USER, nullptr, nullptr, context),
              pcsc::SCARD_F_INTERNAL_ERROR);
    std::uint32_t size = 0;
    EXPECT_EQ(raw.SCardListReaders(context, nullptr, nullptr, size),
              pcsc::SCARD_E_NO_READERS_AVAILABLE);
}

TEST(WineStub, DirectCheckReportsTheEstablishFailure) {
    RecordingPane pane;
    pcsc::StringList hidden{u"ancien"};
    const DirectCheckResult result = RunDirectCheck(pane, hidden);
    EXPECT_EQ(
        pane.Pieces(),
        (std::vector<ReportPiece>{
            {u"Erreur lors de la connexion à la DLL\r\n", kBold, kRed},
            {u"Erreur (-2146435071) : An internal consistency check failed.", kPlain, kBlack}}));
    EXPECT_EQ(result.establish, pcsc::SCARD_F_INTERNAL_ERROR);
    EXPECT_FALSE(result.list.has_value());
    EXPECT_EQ(hidden, pcsc::StringList{u"ancien"});
}

TEST(WineStub, ServiceCheckReportsTheEstablishFailureAndStartsNothing) {
    pcsc::PlainMainLoop loop;
    pcsc::SetMainThread(&loop);
    {
        RecordingPane pane;
        ServiceCheck check(pane);
        check.btn_configClick();
        ASSERT_NE(check.Manager(), nullptr);
        EXPECT_FALSE(check.Manager()->Valid());
        // Idle passes for a while: no watcher polls, nothing more is written.
        loop.RunUntil([] { return false; }, std::chrono::steady_clock::now() + 500ms);
        EXPECT_EQ(pane.Pieces(),
                  (std::vector<ReportPiece>{
                      {u"Erreur lors de la connexion au service\r\n", kBold, kRed}}));
        EXPECT_TRUE(pcsc::ServiceCallsInFlight().empty());
        // Pressed again: the same, with a new manager.
        check.btn_configClick();
        EXPECT_EQ(pane.Pieces().size(), 1u);
    }
    pcsc::SetMainThread(nullptr);
}
