// The direct check against the fake smart-card library: what the pane shows,
// what the hidden reader list holds and that no context is left open.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakePcscClient.h"
#include "PanePrinting.h"
#include "checks/safeModule.h"

using namespace checks;
using pcsc::StringList;

namespace {

const std::string kFake = FAKE_PCSC_PATH;
const std::string kFakeNoListReaders = FAKE_PCSC_NOLISTREADERS_PATH;

using fake::LibraryOverride;

const ReportPiece kConnected{u"Connecté à la DLL\r\n", kBold, kGreen};
const ReportPiece kListTitle{u"Liste des lecteurs :\r\n", kUnderline, kBlack};

}  // namespace

TEST(DirectCheck, TwoReadersAreListedAndKeptInTheHiddenList) {
    fake::Library lib(kFake);
    lib.AddReader("Lecteur A");
    lib.AddReader("Lecteur B");
    RecordingPane pane;
    StringList hidden{u"ancien"};

    const DirectCheckResult result = RunDirectCheck(pane, hidden);

    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kConnected, kListTitle, Entry(u"Lecteur A"),
                                                       Entry(u"Lecteur B")}));
    EXPECT_EQ(hidden, (StringList{u"Lecteur A", u"Lecteur B"}));
    EXPECT_EQ(result.establish, pcsc::SCARD_S_SUCCESS);
    EXPECT_EQ(result.list, pcsc::SCARD_S_SUCCESS);
    EXPECT_FALSE(result.splitFailed);
    EXPECT_EQ(result.names, hidden);
    // User scope, all readers, the fixed buffer, one listing, context released.
    EXPECT_EQ(lib.LastArg("SCardEstablishContext", 0), pcsc::SCARD_SCOPE_USER);
    EXPECT_EQ(lib.LastArg("SCardListReaders", 1), 0u);
    EXPECT_EQ(lib.LastArg("SCardListReaders", 3), kDirectReaderBufferSize);
    EXPECT_EQ(lib.Calls("SCardListReaders"), 1);
    EXPECT_EQ(lib.Calls("SCardReleaseContext"), 1);
    EXPECT_EQ(lib.OpenContexts(), 0);
}

TEST(DirectCheck, ServiceNotRunningEndsOnTheDetailLineWithoutLineEnd) {
    fake::Library lib(kFake);
    lib.SetService(false);
    RecordingPane pane;
    StringList hidden{u"ancien"};

    const DirectCheckResult result = RunDirectCheck(pane, hidden);

    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{
                  {u"Erreur lors de la connexion à la DLL\r\n", kBold, kRed},
                  {u"Erreur (-2146435043) : The Smart card resource manager is not running.",
                   kPlain, kBlack}}));
    EXPECT_EQ(hidden, StringList{u"ancien"});
    EXPECT_EQ(result.establish, pcsc::SCARD_E_NO_SERVICE);
    EXPECT_FALSE(result.list.has_value()) << "the listing was never called";
    EXPECT_EQ(lib.Calls("SCardListReaders"), 0);
    EXPECT_EQ(lib.Calls("SCardReleaseContext"), 0) << "nothing was established";
}

TEST(DirectCheck, ListingFailuresShowTheCodeAndReleaseTheContext) {
    fake::Library lib(kFake);
    RecordingPane pane;
    StringList hidden{u"ancien"};

    // No reader: pcsc-lite's code, which has no text of its own.
    DirectCheckResult result = RunDirectCheck(pane, hidden);
    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{
                  kConnected,
                  kListTitle,
                  {u"Erreur lors du listage des lecteurs\r\n", kBold, kRed},
                  {u"Erreur (-2146435026) : Unknown Error: -2146435026\r\n", kPlain, kBlack}}));
    EXPECT_EQ(result.list, pcsc::SCARD_E_NO_READERS_AVAILABLE);
    EXPECT_EQ(lib.OpenContexts(), 0);

    // Names needing 257 bytes with the final empty name: one listing only.
    lib.AddReader(std::string(126, 'A'));
    lib.AddReader(std::string(128, 'B'));
    result = RunDirectCheck(pane, hidden);
    EXPECT_EQ(
        pane.Pieces(),
        (std::vector<ReportPiece>{
            kConnected,
            kListTitle,
            {u"Erreur lors du listage des lecteurs\r\n", kBold, kRed},
            {u"Erreur (-2146435064) : The data buffer to receive returned data is too small for "
             u"the returned data.\r\n",
             kPlain, kBlack}}));
    EXPECT_EQ(result.list, pcsc::SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(lib.Calls("SCardListReaders"), 2);
    EXPECT_EQ(lib.OpenContexts(), 0);
    EXPECT_EQ(hidden, StringList{u"ancien"}) << "a failed run leaves the hidden list alone";
    EXPECT_TRUE(result.names.empty());
}

TEST(DirectCheck, NamesFillingTheBufferExactlyAreListed) {
    fake::Library lib(kFake);
    // 126 + 1 + 127 + 1 + 1 = 256 bytes.
    lib.AddReader(std::string(126, 'A'));
    lib.AddReader(std::string(127, 'B'));
    RecordingPane pane;
    StringList hidden;

    const DirectCheckResult result = RunDirectCheck(pane, hidden);

    EXPECT_EQ(result.list, pcsc::SCARD_S_SUCCESS);
    EXPECT_EQ(hidden, (StringList{std::u16string(126, u'A'), std::u16string(127, u'B')}));
    EXPECT_EQ(pane.Pieces().size(), 4u);
}

TEST(DirectCheck, AListWithoutItsEmptyNameIsASplitErrorAndTheRunGoesOn) {
    fake::Library lib(kFake);
    RecordingPane pane;
    StringList hidden;
    const ReportPiece splitError{u"Erreur durant le parsing des lecteurs\r\n", kBold, kRed};

    // Two finished names, then a third cut off by the end of the buffer.
    std::string unfinished("Lecteur A\0Lecteur B\0", 20);
    unfinished += std::string(256 - unfinished.size(), 'x');
    lib.SetRawReaderList(unfinished);
    DirectCheckResult result = RunDirectCheck(pane, hidden);
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{kConnected, kListTitle, splitError,
                                                       Entry(u"Lecteur A"), Entry(u"Lecteur B")}));
    EXPECT_EQ(hidden, (StringList{u"Lecteur A", u"Lecteur B"}));
    EXPECT_TRUE(result.splitFailed);
    EXPECT_EQ(lib.OpenContexts(), 0);

    // Every name finished at the last byte, but no empty name after them.
    std::string full("Lecteur C\0", 10);
    full += std::string(245, 'D') + '\0';
    ASSERT_EQ(full.size(), kDirectReaderBufferSize);
    lib.SetRawReaderList(full);
    result = RunDirectCheck(pane, hidden);
    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{kConnected, kListTitle, splitError, Entry(u"Lecteur C"),
                                        Entry(std::u16string(245, u'D'))}));
    EXPECT_TRUE(result.splitFailed);

    // Nothing but a cut-off name: the split error, then no reader found.
    lib.SetRawReaderList(std::string(256, 'x'));
    result = RunDirectCheck(pane, hidden);
    EXPECT_EQ(
        pane.Pieces(),
        (std::vector<ReportPiece>{
            kConnected, kListTitle, splitError, {u"Aucun lecteur trouvé\r\n", kPlain, kRed}}));
    EXPECT_EQ(hidden, (StringList{u"Lecteur C", std::u16string(245, u'D')}));
    EXPECT_EQ(lib.OpenContexts(), 0);
}

TEST(DirectCheck, AnEmptyListReportedAsSuccessFindsNoReader) {
    fake::Library lib(kFake);
    lib.SetRawReaderList(std::string("\0Fantome\0\0", 10));
    RecordingPane pane;
    StringList hidden{u"ancien"};

    const DirectCheckResult result = RunDirectCheck(pane, hidden);

    EXPECT_EQ(pane.Pieces(),
              (std::vector<ReportPiece>{
                  kConnected, kListTitle, {u"Aucun lecteur trouvé\r\n", kPlain, kRed}}));
    EXPECT_EQ(hidden, StringList{u"ancien"});
    EXPECT_EQ(result.list, pcsc::SCARD_S_SUCCESS);
    EXPECT_FALSE(result.splitFailed);
    EXPECT_TRUE(result.names.empty());
    EXPECT_EQ(lib.OpenContexts(), 0);
}

TEST(DirectCheck, Utf8NamesAreDecoded) {
    fake::Library lib(kFake);
    lib.AddReader("Lecteur carte Vitale \xC3\xA9\xE2\x82\xAC 00");
    RecordingPane pane;
    StringList hidden;

    RunDirectCheck(pane, hidden);

    EXPECT_EQ(hidden, StringList{u"Lecteur carte Vitale é€ 00"});
    ASSERT_EQ(pane.Pieces().size(), 3u);
    EXPECT_EQ(pane.Pieces()[2], Entry(u"Lecteur carte Vitale é€ 00"));
}

TEST(DirectCheck, ACallThatCannotBeMadeEndsTheRun) {
    const ReportPiece cannotEstablish{
        u"Erreur au lancement de la commande - SCardEstablishContext\r\n", kBold, kRed};
    RecordingPane pane;
    StringList hidden{u"ancien"};
    {
        LibraryOverride missing("/nonexistent/libpcsclite-missing.so.1");
        const DirectCheckResult result = RunDirectCheck(pane, hidden);
        EXPECT_EQ(pane.Pieces(), std::vector<ReportPiece>{cannotEstablish});
        EXPECT_FALSE(result.establish.has_value());
        EXPECT_FALSE(result.list.has_value());
    }
    {
        // A library that loads but is no smart-card library.
        LibraryOverride notPcsc("libc.so.6");
        RunDirectCheck(pane, hidden);
        EXPECT_EQ(pane.Pieces(), std::vector<ReportPiece>{cannotEstablish});
    }
    {
        fake::Library lib(kFakeNoListReaders);
        const DirectCheckResult result = RunDirectCheck(pane, hidden);
        EXPECT_EQ(
            pane.Pieces(),
            (std::vector<ReportPiece>{
                kConnected,
                kListTitle,
                {u"Erreur au lancement de la commande - SCardListReadersA\r\n", kBold, kRed}}));
        EXPECT_EQ(result.establish, pcsc::SCARD_S_SUCCESS);
        EXPECT_FALSE(result.list.has_value());
        EXPECT_EQ(lib.Calls("SCardReleaseContext"), 1);
        EXPECT_EQ(lib.OpenContexts(), 0);
    }
    EXPECT_EQ(hidden, StringList{u"ancien"});
}

TEST(DirectCheck, TheLibraryIsReleasedAfterTheRun) {
    {
        LibraryOverride override(kFake);
        RecordingPane pane;
        StringList hidden;
        const DirectCheckResult result = RunDirectCheck(pane, hidden);
        // A freshly loaded fake has a service and no reader.
        EXPECT_EQ(result.list, pcsc::SCARD_E_NO_READERS_AVAILABLE);
    }
    EXPECT_FALSE(fake::IsLoaded(kFake));
}

TEST(DirectCheck, ASecondRunReplacesTheFirstReport) {
    fake::Library lib(kFake);
    lib.AddReader("Lecteur A");
    lib.AddReader("Lecteur B");
    RecordingPane pane;
    StringList hidden;

    RunDirectCheck(pane, hidden);
    ASSERT_EQ(pane.Pieces().size(), 4u);
    lib.SetService(false);
    RunDirectCheck(pane, hidden);

    EXPECT_EQ(pane.Pieces().size(), 2u);
    EXPECT_EQ(pane.Pieces()[0].text, u"Erreur lors de la connexion à la DLL\r\n");
    EXPECT_EQ(hidden, (StringList{u"Lecteur A", u"Lecteur B"}));
    EXPECT_EQ(lib.Calls("SCardEstablishContext"), 2);
    EXPECT_EQ(lib.Calls("SCardReleaseContext"), 1);
    EXPECT_EQ(lib.OpenContexts(), 0);
}

TEST(DirectCheck, TheContextIsReleasedWhenThePaneFails) {
    // A front end whose pane fails once the listing has been written to.
    class FailingPane : public RecordingPane {
    public:
        void Append(std::u16string_view text, Style style, Color color) override {
            if (Pieces().size() == 2) throw std::runtime_error("pane closed");
            RecordingPane::Append(text, style, color);
        }
    };
    fake::Library lib(kFake);
    lib.AddReader("Lecteur A");
    FailingPane pane;
    StringList hidden;

    EXPECT_THROW(RunDirectCheck(pane, hidden), std::runtime_error);
    EXPECT_EQ(lib.Calls("SCardListReaders"), 1);
    EXPECT_EQ(lib.OpenContexts(), 0);
}
