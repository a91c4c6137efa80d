// The recording pane front ends draw from.
#include <gtest/gtest.h>

#include <vector>

#include "PanePrinting.h"
#include "checks/Report.h"
#include "checks/Tabs.h"

using namespace checks;

TEST(RecordingPane, KeepsEachPieceWithItsOwnAttributesUntilCleared) {
    RecordingPane pane;
    pane.Append(u"Erreur\r\n", kBold, kRed);
    pane.Append(u"détail", kPlain, kBlack);
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{{u"Erreur\r\n", kBold, kRed},
                                                       {u"détail", kPlain, kBlack}}));
    EXPECT_EQ(pane.Text(), u"Erreur\r\ndétail");

    pane.Clear();
    pane.Append(u"Liste :\r\n", kUnderline, kBlack);
    EXPECT_EQ(pane.Pieces(), (std::vector<ReportPiece>{{u"Liste :\r\n", kUnderline, kBlack}}));
}

TEST(RecordingPane, NamedAttributes) {
    EXPECT_EQ(kRed, 0x0000FFu);
    EXPECT_EQ(kGreen, 0x008000u);
    EXPECT_EQ(kBlack, 0x000000u);
    EXPECT_TRUE(kBold.bold && !kBold.italic && !kBold.underline && !kBold.strikeOut);
    EXPECT_TRUE(kUnderline.underline && !kUnderline.bold);
    EXPECT_EQ(kPlain, Style{});
    EXPECT_EQ(kServiceTabCaption, u"Lecteurs PC/SC");
    EXPECT_EQ(kSerialTabCaption, u"Lecteurs COM (GALSS)");
    EXPECT_EQ(kDirectTabCaption, u"Lecteurs PC/SC (sans ScardSvr)");
}
