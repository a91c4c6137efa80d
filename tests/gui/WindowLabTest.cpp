// The window against the real pcsc-lite service of the lab (a private pcscd
// with vpcd readers): the service tab follows the readers as the service
// comes and goes, the direct tab lists them and fills the hidden list.
#include <QComboBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "GuiTestSupport.h"
#include "Lab.h"
#include "Look.h"
#include "QtMainThread.h"
#include "pcsc/Manager.h"
#include "ppal.h"

using checks::ReportPiece;
using Pieces = std::vector<ReportPiece>;
using namespace guitest;

namespace {

const std::u16string R0 = lab::ReaderName(0);
const std::u16string R1 = lab::ReaderName(1);
const std::u16string R2 = lab::ReaderName(2);
const std::u16string R3 = lab::ReaderName(3);

const ReportPiece kServiceConnected{u"Connecté au service\r\n", checks::kBold, checks::kGreen};
const ReportPiece kReaderListTitle{u"Liste des lecteurs :\r\n", checks::kUnderline, checks::kBlack};

ReportPiece Lines(const std::vector<std::u16string>& readers) {
    ReportPiece piece{u"", checks::kPlain, checks::kBlack};
    for (const std::u16string& reader : readers) piece.text += reader + u"\r\n";
    return piece;
}

using lab::Background;

}  // namespace

class WindowLabTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void serviceTabFollowsTheServiceAsItComesAndGoes();
    void serviceTabAppendsTheReadersOfARestartedService();
    void directTabListsTheLabReaders();

private:
    QWidget& W() { return *window_; }
    QTextEdit* Pane(const char* name) { return Find<QTextEdit>(W(), name); }
    void Press(const char* button) {
        QTest::mouseClick(Find<QPushButton>(W(), button), Qt::LeftButton);
    }
    void ShowTab(int index) {
        QTabBar* bar = Find<QTabWidget>(W(), "PageControl1")->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    bool PaneShows(const char* pane, const Pieces& expected) {
        return ServeUnprompted([&] { return ReadPieces(*Pane(pane)) == expected; });
    }
    // Runs a lab command while the window's loop serves the manager.
    void RunServed(const std::string& command) {
        Background job(command);
        QVERIFY2(Serve([&] { return job.Done(); }), command.c_str());
        job.Get();
    }

    std::unique_ptr<gui::QtMainThread> mainThread_;
    std::unique_ptr<gui::Tfiche_ppal> window_;
};

void WindowLabTest::initTestCase() {
    QVERIFY2(std::getenv("VARDEL_PCSC_LIBRARY") == nullptr, "the lab tests use the system library");
    gui::PrepareApplication(*qApp);
    mainThread_ = std::make_unique<gui::QtMainThread>();
    pcsc::SetMainThread(mainThread_.get());
}

void WindowLabTest::init() {
    lab::Readers(2);
    lab::CardOut(0);
    lab::CardOut(1);
    window_ = std::make_unique<gui::Tfiche_ppal>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void WindowLabTest::cleanup() {
    window_.reset();
}

void WindowLabTest::serviceTabFollowsTheServiceAsItComesAndGoes() {
    Press("btn_config");
    ComparePieces(ReadPieces(*Pane("lecteur1")), Pieces{kServiceConnected, kReaderListTitle});
    const Pieces found{kServiceConnected, kReaderListTitle, Lines({R0, R1})};
    QVERIFY(PaneShows("lecteur1", found));
    // A card changes nothing in the pane.
    lab::CardIn(0);

    // The service stops: the readers go, and nothing is written.
    std::vector<std::u16string> removed;
    window_->CurrentManager()->SetOnReaderRemoved(
        [&](pcsc::TPCSC*, const std::u16string& reader) { removed.push_back(reader); });
    RunServed("lab-service stop");
    QVERIFY(Serve([&] { return removed.size() == 2; }));
    ComparePieces(ReadPieces(*Pane("lecteur1")), found);
    // Back: its readers are appended once more, with another tab shown.
    ShowTab(1);
    RunServed("lab-service start");
    QVERIFY(PaneShows("lecteur1",
                      Pieces{kServiceConnected, kReaderListTitle, Lines({R0, R1, R0, R1})}));
}

void WindowLabTest::serviceTabAppendsTheReadersOfARestartedService() {
    Press("btn_config");
    QVERIFY(PaneShows("lecteur1", Pieces{kServiceConnected, kReaderListTitle, Lines({R0, R1})}));
    // Restarted with two more readers while the window is busy: the readers
    // it already lists stay, the new ones are appended.
    lab::Readers(4);
    const Pieces four{kServiceConnected, kReaderListTitle, Lines({R0, R1, R2, R3})};
    QVERIFY(PaneShows("lecteur1", four));
    QVERIFY(ServeIdlePasses(10));
    ComparePieces(ReadPieces(*Pane("lecteur1")), four);
}

void WindowLabTest::directTabListsTheLabReaders() {
    ShowTab(2);
    Press("SpeedButton2");
    ComparePieces(ReadPieces(*Pane("lecteur3")),
                  Pieces{{u"Connecté à la DLL\r\n", checks::kBold, checks::kGreen},
                         kReaderListTitle,
                         Lines({R0, R1})});
    auto* combo = Find<QComboBox>(W(), "ComboBox1");
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), Q(R0));
    QCOMPARE(combo->itemText(1), Q(R1));

    // Without the service: the failure and its code, the hidden list kept.
    lab::Service("stop");
    Press("SpeedButton2");
    ComparePieces(ReadPieces(*Pane("lecteur3")),
                  Pieces{{u"Erreur lors de la connexion à la DLL\r\n", checks::kBold, checks::kRed},
                         {u"Erreur (-2146435043) : The Smart card resource manager is not running.",
                          checks::kPlain, checks::kBlack}});
    QCOMPARE(combo->count(), 2);
    lab::Service("start");
}

QTEST_MAIN(WindowLabTest)
#include "WindowLabTest.moc"
