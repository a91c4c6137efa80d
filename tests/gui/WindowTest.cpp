// The window on Qt's offscreen platform, its checks against the fake
// smart-card library and a sysfs tree built in a temporary directory: the
// layout, the panes read back piece by piece (text, weight, underline,
// colour), the buttons pressed with the mouse, the loop left to run by
// itself for the service check's reader lines.
#include <QComboBox>
#include <QDesktopServices>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QUrl>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeLibrary.h"
#include "GuiTestSupport.h"
#include "HandlerErrors.h"
#include "Look.h"
#include "QtMainThread.h"
#include "RichTextPane.h"
#include "checks/SysfsSerialPorts.h"
#include "checks/safeModule.h"
#include "ppal.h"
#include "window/MainWindow.h"

using checks::ReportPiece;
using Pieces = std::vector<ReportPiece>;
using namespace guitest;
namespace fs = std::filesystem;

namespace {

const ReportPiece kServiceConnected{u"Connecté au service\r\n", checks::kBold, checks::kGreen};
const ReportPiece kServiceFailed{u"Erreur lors de la connexion au service\r\n", checks::kBold,
                                 checks::kRed};
const ReportPiece kReaderListTitle{u"Liste des lecteurs :\r\n", checks::kUnderline, checks::kBlack};
const ReportPiece kDllConnected{u"Connecté à la DLL\r\n", checks::kBold, checks::kGreen};

ReportPiece Plain(std::u16string text) {
    return {std::move(text), checks::kPlain, checks::kBlack};
}

// A sysfs and /dev tree, as the kernel and udev lay them out.
class SysfsTree {
public:
    SysfsTree() : root_(dir_.path().toStdString()) {
        fs::create_directories(root_ / "sys/class/tty");
    }

    const fs::path& Root() const { return root_; }

    std::string Device(const std::string& path, const std::string& subsystem) {
        const fs::path node = root_ / "sys/devices" / path;
        fs::create_directories(node);
        fs::create_directories(root_ / "sys/bus" / subsystem);
        fs::create_symlink(root_ / "sys/bus" / subsystem, node / "subsystem");
        return path;
    }
    void Tty(const std::string& name, const std::string& device) {
        const fs::path dir = root_ / "sys/devices" / device / "tty" / name;
        fs::create_directories(dir);
        fs::create_symlink("../../../" + fs::path(device).filename().string(), dir / "device");
        fs::create_symlink("../../devices/" + device + "/tty/" + name,
                           root_ / "sys/class/tty" / name);
    }
    void ById(const std::string& link, const std::string& tty) {
        fs::create_directories(root_ / "dev/serial/by-id");
        fs::create_symlink("../../" + tty, root_ / "dev/serial/by-id" / link);
    }

private:
    QTemporaryDir dir_;
    fs::path root_;
};

// Points the serial-port check at a tree for the life of the object.
class SysfsRootOverride {
public:
    explicit SysfsRootOverride(const fs::path& root) {
        setenv(checks::kSysfsRootVariable, root.c_str(), 1);
    }
    ~SysfsRootOverride() { unsetenv(checks::kSysfsRootVariable); }
};

// Stands for the desktop's browser: records the addresses it is asked to
// open.
class Browser : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl& url) { opened.push_back(url); }
};

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startsOnTheFirstTabWithEmptyPanes();
    void componentsAreLaidOutAsDesigned_data();
    void componentsAreLaidOutAsDesigned();
    void textsAndFontsAsDesigned();
    void everythingFitsItsComponent();
    void windowHasAFixedSizeAndCanBeMinimised();
    void buttonsAreFlatWithTheirPictures();
    void tabOrderBeginsWithTheLinks();
    void linksOpenTheirAddresses();

    void plainBlackAfterBoldRed();
    void appendToAnEmptyPaneStartsAtItsBeginning();

    void directCheckListsTheReadersIntoTheHiddenList();
    void directCheckRunTwiceShowsOnlyTheSecondRun();
    void directCheckWithNoReaderLeavesTheHiddenList();
    void serialCheckShowsWhatTheCheckWrites();
    void serviceCheckLinesComeAfterThePressWithoutInput();
    void serviceCheckUnreachableThenPressedAgain();
    void serviceCheckPressedTwiceListsEachReaderOnce();
    void closingTheWindowStopsTheManager();

    void errorEscapingAHandlerIsShownAndTheProgramGoesOn();
    void errorEscapingTheIdleHookIsShown();

private:
    QWidget& W() { return *window_; }
    gui::RichTextPane* Pane(const char* name) { return Find<gui::RichTextPane>(W(), name); }
    QTabWidget* Pages() { return Find<QTabWidget>(W(), "PageControl1"); }
    void ShowTab(int index) {
        QTabBar* bar = Pages()->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
        QCOMPARE(Pages()->currentIndex(), index);
    }
    void Press(const char* button) {
        QTest::mouseClick(Find<QPushButton>(W(), button), Qt::LeftButton);
    }
    QStringList HiddenReaders() {
        QStringList items;
        auto* combo = Find<QComboBox>(W(), "ComboBox1");
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        return items;
    }
    // Lets the watcher poll `cycles` more times.
    bool Settle(long cycles) {
        const long until = fake_->Calls("SCardGetStatusChange") + cycles;
        return Serve([&] { return fake_->Calls("SCardGetStatusChange") >= until; });
    }

    std::unique_ptr<FakeLibrary> fake_;
    std::unique_ptr<gui::QtMainThread> mainThread_;
    std::unique_ptr<gui::Tfiche_ppal> window_;
};

void WindowTest::initTestCase() {
    gui::PrepareApplication(*qApp);
    fake_ = std::make_unique<FakeLibrary>(FAKE_PCSC_PATH);
    mainThread_ = std::make_unique<gui::QtMainThread>();
    pcsc::SetMainThread(mainThread_.get());
}

void WindowTest::init() {
    fake_->Reset();
    window_ = std::make_unique<gui::Tfiche_ppal>();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void WindowTest::cleanup() {
    window_.reset();
    QCOMPARE(fake_->OpenContexts(), 0L);
}

void WindowTest::startsOnTheFirstTabWithEmptyPanes() {
    QCOMPARE(Pages()->currentWidget(), Find(W(), "TabSheet2"));
    QCOMPARE(Pages()->tabText(Pages()->currentIndex()), QStringLiteral("Lecteurs PC/SC"));
    for (const char* pane : {"lecteur1", "lecteur2", "lecteur3"}) {
        QVERIFY2(Pane(pane)->document()->isEmpty(), pane);
    }
    // No check has run: the smart-card library has not been asked anything.
    QCOMPARE(fake_->Calls("SCardEstablishContext"), 0L);
    QCOMPARE(window_->CurrentManager(), nullptr);
}

void WindowTest::componentsAreLaidOutAsDesigned_data() {
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("className");

    const auto row = [](const char* name, const char* parent, QRect geometry,
                        const char* className) {
        QTest::newRow(name) << QString::fromLatin1(parent) << geometry
                            << QString::fromLatin1(className);
    };
    row("lbl_about1", "fiche_ppal", {108, 14, 361, 29}, "QLabel");
    row("lbl_about2", "fiche_ppal", {8, 51, 580, 29}, "QLabel");
    row("Bevel2", "fiche_ppal", {8, 86, 580, 299}, "QFrame");
    row("PageControl1", "fiche_ppal", {16, 96, 561, 281}, "QTabWidget");
    row("btn_config", "TabSheet2", {190, 24, 172, 30}, "QPushButton");
    row("lecteur1", "TabSheet2", {0, 91, 553, 159}, "gui::RichTextPane");
    row("SpeedButton1", "TabSheet3", {190, 24, 172, 30}, "QPushButton");
    row("lecteur2", "TabSheet3", {0, 91, 553, 159}, "gui::RichTextPane");
    row("SpeedButton2", "TabSheet1", {190, 24, 172, 30}, "QPushButton");
    row("lecteur3", "TabSheet1", {0, 91, 553, 159}, "gui::RichTextPane");
    row("ComboBox1", "TabSheet1", {0, 0, 553, 21}, "QComboBox");
    row("btn_quit", "fiche_ppal", {248, 391, 95, 30}, "QPushButton");
    row("lbl_link2", "fiche_ppal", {451, 403, 108, 19}, "QLabel");
    row("lbl_link3", "fiche_ppal", {40, 401, 119, 19}, "QLabel");
}

void WindowTest::componentsAreLaidOutAsDesigned() {
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, className);
    QWidget* component = Find(W(), QTest::currentDataTag());
    QVERIFY(component);
    QCOMPARE(QString::fromLatin1(component->metaObject()->className()), className);
    QCOMPARE(component->geometry(), geometry);
    QWidget* expectedParent =
        parent == "fiche_ppal" ? &W() : Find(W(), parent.toLatin1().constData());
    QVERIFY(expectedParent);
    QCOMPARE(component->parentWidget(), expectedParent);
}

void WindowTest::textsAndFontsAsDesigned() {
    QCOMPARE(W().objectName(), QStringLiteral("fiche_ppal"));
    QCOMPARE(QString::fromLatin1(W().metaObject()->className()),
             QStringLiteral("gui::Tfiche_ppal"));
    QCOMPARE(W().windowTitle(), QStringLiteral("Vardel - Contrôle des lecteurs"));
    QCOMPARE(Find<QLabel>(W(), "lbl_about1")->text(),
             QStringLiteral("Contrôle des lecteurs Vitale"));
    QCOMPARE(Find<QLabel>(W(), "lbl_about2")->text(),
             QStringLiteral("Cette application est compatible avec le logiciel Vardel uniquement"));
    QCOMPARE(Find<QLabel>(W(), "lbl_about1")->alignment(), Qt::AlignCenter);
    QCOMPARE(Find<QLabel>(W(), "lbl_about2")->alignment(), Qt::AlignCenter);
    for (const char* button : {"btn_config", "SpeedButton1", "SpeedButton2"}) {
        QCOMPARE(Find<QPushButton>(W(), button)->text(),
                 QStringLiteral(" Rechercher les lecteurs"));
    }
    QCOMPARE(Find<QPushButton>(W(), "btn_quit")->text(), QStringLiteral(" Quitter"));
    QCOMPARE(Pages()->count(), 3);
    QCOMPARE(Pages()->tabText(0), QStringLiteral("Lecteurs PC/SC"));
    QCOMPARE(Pages()->tabText(1), QStringLiteral("Lecteurs COM (GALSS)"));
    QCOMPARE(Pages()->tabText(2), QStringLiteral("Lecteurs PC/SC (sans ScardSvr)"));
    QCOMPARE(Pages()->widget(0)->objectName(), QStringLiteral("TabSheet2"));
    QCOMPARE(Pages()->widget(1)->objectName(), QStringLiteral("TabSheet3"));
    QCOMPARE(Pages()->widget(2)->objectName(), QStringLiteral("TabSheet1"));

    auto* combo = Find<QComboBox>(W(), "ComboBox1");
    QVERIFY(combo->isHidden());
    QCOMPARE(combo->currentText(), QStringLiteral("ComboBox1"));
    QCOMPARE(combo->count(), 0);

    // White window, black text.
    QVERIFY(W().autoFillBackground());
    QCOMPARE(W().palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(W().palette().color(QPalette::WindowText), QColor(Qt::black));

    // Tahoma where the machine has it, at the designed sizes.
    const bool tahoma = QFile::exists(QString::fromLatin1(gui::kWineFontDir) + "/tahoma.ttf");
    struct Expected {
        const char* name;
        int pixels;
        bool bold;
    };
    for (const Expected& e : {Expected{"fiche_ppal", 11, false}, Expected{"lbl_about1", 24, true},
                              Expected{"lbl_about2", 15, false}, Expected{"lecteur1", 11, false},
                              Expected{"lecteur2", 11, false}, Expected{"lecteur3", 11, false},
                              Expected{"btn_config", 11, false}, Expected{"lbl_link2", 12, false},
                              Expected{"lbl_link3", 12, false}}) {
        QWidget* widget = std::string_view(e.name) == "fiche_ppal" ? &W() : Find(W(), e.name);
        const QFontInfo info(widget->font());
        QVERIFY2(info.pixelSize() == e.pixels, e.name);
        QVERIFY2(info.bold() == e.bold, e.name);
        if (tahoma) QVERIFY2(info.family() == QStringLiteral("Tahoma"), e.name);
    }
}

void WindowTest::everythingFitsItsComponent() {
    for (const char* name : {"lbl_about1", "lbl_about2", "lbl_link2", "lbl_link3"}) {
        auto* label = Find<QLabel>(W(), name);
        QVERIFY2(label->sizeHint().width() <= label->width() &&
                     label->sizeHint().height() <= label->height(),
                 name);
    }
    for (const char* name : {"btn_config", "SpeedButton1", "SpeedButton2", "btn_quit"}) {
        auto* button = Find<QPushButton>(W(), name);
        const int needed =
            button->iconSize().width() + button->fontMetrics().horizontalAdvance(button->text());
        QVERIFY2(needed < button->width() && button->iconSize().height() < button->height(), name);
    }
    QVERIFY(Find(W(), "Bevel2")->geometry().contains(Pages()->geometry()));
    QVERIFY(W().rect().contains(Find(W(), "Bevel2")->geometry()));
    // Every tab shows whole, and each page holds its button and its pane.
    QTabBar* bar = Pages()->tabBar();
    for (int i = 0; i < Pages()->count(); ++i) {
        QVERIFY(bar->rect().contains(bar->tabRect(i)));
        QVERIFY(bar->fontMetrics().horizontalAdvance(bar->tabText(i)) < bar->tabRect(i).width());
        Pages()->setCurrentIndex(i);
        QWidget* sheet = Pages()->currentWidget();
        for (QWidget* child : sheet->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isHidden()) continue;
            QVERIFY2(sheet->rect().contains(child->geometry()), qPrintable(child->objectName()));
        }
        QVERIFY(
            Pages()->rect().contains(sheet->geometry().translated(sheet->parentWidget()->pos())));
    }
}

void WindowTest::windowHasAFixedSizeAndCanBeMinimised() {
    QCOMPARE(W().size(), QSize(596, 427));
    QCOMPARE(W().minimumSize(), QSize(596, 427));
    QCOMPARE(W().maximumSize(), QSize(596, 427));
    const Qt::WindowFlags flags = W().windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    W().resize(800, 600);
    QCOMPARE(W().size(), QSize(596, 427));
    W().showMaximized();
    QCOMPARE(W().size(), QSize(596, 427));
    W().showMinimized();
    QVERIFY(W().isMinimized());
    W().showNormal();
    QCOMPARE(W().size(), QSize(596, 427));
}

void WindowTest::buttonsAreFlatWithTheirPictures() {
    QImage search;
    for (const char* name : {"btn_config", "SpeedButton1", "SpeedButton2", "btn_quit"}) {
        auto* button = Find<QPushButton>(W(), name);
        QCOMPARE(button->focusPolicy(), Qt::NoFocus);
        QCOMPARE(button->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(button->iconSize(), QSize(24, 24));
        const QImage picture = button->icon().pixmap(QSize(24, 24)).toImage();
        QCOMPARE(picture.size(), QSize(24, 24));
        // Drawn on a transparent ground, and something drawn on it.
        QCOMPARE(qAlpha(picture.pixel(0, 0)), 0);
        int drawn = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x) drawn += qAlpha(picture.pixel(x, y)) > 128;
        QVERIFY2(drawn > 24 * 24 / 5, name);
        if (std::string_view(name) == "btn_quit") {
            QVERIFY(picture != search);
        } else if (search.isNull()) {
            search = picture;
        } else {
            QCOMPARE(picture, search);  // the three search buttons share one picture
        }
    }
    // No frame until hovered: nothing of the button is drawn over the window
    // but its picture and its caption.
    auto* button = Find<QPushButton>(W(), "btn_config");
    const QImage look =
        W().grab(QRect(button->mapTo(&W(), QPoint(0, 0)), button->size())).toImage();
    QCOMPARE(look.pixelColor(1, 1), QColor(Qt::white));
    QCOMPARE(look.pixelColor(look.width() - 2, look.height() / 2), QColor(Qt::white));
}

void WindowTest::tabOrderBeginsWithTheLinks() {
    W().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&W()));
    QCOMPARE(QApplication::focusWidget(), Find(W(), "lbl_link2"));
    QTest::keyClick(&W(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Find(W(), "lbl_link3"));
    QTest::keyClick(&W(), Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus == Pages() || focus == Pages()->tabBar());
}

void WindowTest::linksOpenTheirAddresses() {
    Browser browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    for (const char* name : {"lbl_link2", "lbl_link3"}) {
        auto* link = Find<QLabel>(W(), name);
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(link->text().startsWith(QStringLiteral("<a href=")));
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(8, link->height() / 2));
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QCOMPARE(browser.opened, (QList<QUrl>{QUrl(QString::fromUtf8(window::kSupportUrl)),
                                          QUrl(QString::fromUtf8(window::kProductUrl))}));
    // The anchors' text is the caption.
    QTextDocument shown;
    shown.setHtml(Find<QLabel>(W(), "lbl_link2")->text());
    QCOMPARE(shown.toPlainText(), QStringLiteral("Support à Distance"));
    shown.setHtml(Find<QLabel>(W(), "lbl_link3")->text());
    QCOMPARE(shown.toPlainText(), QStringLiteral("Logiciel lecture Vitale"));
}

void WindowTest::plainBlackAfterBoldRed() {
    window_->Addl1Text(u"Erreur\r\n", checks::kBold, checks::kRed);
    window_->Addl1Text(u"ligne", checks::kPlain, checks::kBlack);
    window_->Addl1Text(u" titre", checks::kUnderline, checks::kBlack);
    window_->Addl1Text(u" fin", checks::kPlain, checks::kBlack);
    ComparePieces(ReadPieces(*Pane("lecteur1")),
                  Pieces{{u"Erreur\r\n", checks::kBold, checks::kRed},
                         Plain(u"ligne"),
                         {u" titre", checks::kUnderline, checks::kBlack},
                         Plain(u" fin")});
    QCOMPARE(Pane("lecteur1")->toPlainText(), QStringLiteral("Erreur\nligne titre fin"));
    // Only the style and the colour were set: face and size are the pane's.
    const QTextDocument* document = Pane("lecteur1")->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            QVERIFY(!format.hasProperty(QTextFormat::FontFamilies));
            QVERIFY(!format.hasProperty(QTextFormat::FontPixelSize));
            QVERIFY(!format.hasProperty(QTextFormat::FontPointSize));
        }
    }
    QCOMPARE(document->defaultFont().pixelSize(), 11);
}

void WindowTest::appendToAnEmptyPaneStartsAtItsBeginning() {
    gui::RichTextPane* pane = Pane("lecteur2");
    window_->Addl2Text(u"Texte", checks::kBold, checks::kGreen);
    QCOMPARE(pane->toPlainText(), QStringLiteral("Texte"));
    QCOMPARE(pane->document()->begin().begin().fragment().position(), 0);
    ComparePieces(ReadPieces(*pane), Pieces{{u"Texte", checks::kBold, checks::kGreen}});
    // Cleared, the pane carries nothing of what it held over to the next piece.
    pane->Clear();
    QVERIFY(pane->document()->isEmpty());
    window_->Addl2Text(u"Autre\r\n", checks::kPlain, checks::kBlack);
    ComparePieces(ReadPieces(*pane), Pieces{Plain(u"Autre\r\n")});
    // The twins write to their own panes only.
    window_->Addl3Text(u"Trois", checks::kPlain, checks::kRed);
    ComparePieces(ReadPieces(*Pane("lecteur3")), Pieces{{u"Trois", checks::kPlain, checks::kRed}});
    QVERIFY(Pane("lecteur1")->document()->isEmpty());
}

void WindowTest::directCheckListsTheReadersIntoTheHiddenList() {
    fake_->AddReader("Lecteur A");
    fake_->AddReader("Lecteur B");
    ShowTab(2);
    Press("SpeedButton2");
    const Pieces expected{kDllConnected, kReaderListTitle, Plain(u"Lecteur A\r\nLecteur B\r\n")};
    ComparePieces(ReadPieces(*Pane("lecteur3")), expected);
    // Exactly what the check writes, the same library answering.
    checks::RecordingPane recording;
    pcsc::StringList hidden;
    checks::RunDirectCheck(recording, hidden);
    ComparePieces(ReadPieces(*Pane("lecteur3")), Merged(recording.Pieces()));

    QCOMPARE(HiddenReaders(), (QStringList{"Lecteur A", "Lecteur B"}));
    QVERIFY(Find(W(), "ComboBox1")->isHidden());
    QCOMPARE(fake_->OpenContexts(), 0L);
    QVERIFY(Pane("lecteur1")->document()->isEmpty());
    QVERIFY(Pane("lecteur2")->document()->isEmpty());
}

void WindowTest::directCheckRunTwiceShowsOnlyTheSecondRun() {
    window_->Addl2Text(u"Autre onglet\r\n", checks::kPlain, checks::kBlack);
    fake_->AddReader("Lecteur A");
    fake_->AddReader("Lecteur B");
    ShowTab(2);
    Press("SpeedButton2");
    fake_->SetService(false);
    Press("SpeedButton2");
    ComparePieces(
        ReadPieces(*Pane("lecteur3")),
        Pieces{{u"Erreur lors de la connexion à la DLL\r\n", checks::kBold, checks::kRed},
               Plain(u"Erreur (-2146435043) : The Smart card resource manager is not running.")});
    // A failed run leaves the hidden list as the last run that found readers
    // made it; the other panes are as they were.
    QCOMPARE(HiddenReaders(), (QStringList{"Lecteur A", "Lecteur B"}));
    ComparePieces(ReadPieces(*Pane("lecteur2")), Pieces{Plain(u"Autre onglet\r\n")});
    QVERIFY(Pane("lecteur1")->document()->isEmpty());
    QCOMPARE(fake_->OpenContexts(), 0L);
}

void WindowTest::directCheckWithNoReaderLeavesTheHiddenList() {
    fake_->SetRawReaderList(std::string("\0\0", 2));
    ShowTab(2);
    Press("SpeedButton2");
    ComparePieces(ReadPieces(*Pane("lecteur3")),
                  Pieces{kDllConnected,
                         kReaderListTitle,
                         {u"Aucun lecteur trouvé\r\n", checks::kPlain, checks::kRed}});
    auto* combo = Find<QComboBox>(W(), "ComboBox1");
    QCOMPARE(combo->count(), 0);
    QCOMPARE(combo->currentText(), QStringLiteral("ComboBox1"));
}

void WindowTest::serialCheckShowsWhatTheCheckWrites() {
    SysfsTree tree;
    const std::string bus = "pci0000:00/0000:00:14.0/usb1";
    tree.Tty("ttyACM0", tree.Device(bus + "/1-1/1-1:1.0", "usb"));
    tree.Tty("ttyS0", tree.Device("platform/serial8250", "platform"));
    tree.ById("usb-Vardel_Lecteur_Vitale_0001-if00", "ttyACM0");
    SysfsRootOverride override(tree.Root());

    ShowTab(1);
    Press("SpeedButton1");
    const Pieces shown = ReadPieces(*Pane("lecteur2"));
    checks::RecordingPane recording;
    checks::RunPlatformSerialCheck(recording);
    ComparePieces(shown, Merged(recording.Pieces()));
    QVERIFY(Pane("lecteur2")
                ->toPlainText()
                .contains(QStringLiteral("/dev/ttyACM0 : usb-Vardel_Lecteur_Vitale_0001-if00\n")));
    QVERIFY(!Pane("lecteur2")->toPlainText().contains(QStringLiteral("ttyS0")));

    // Run again on a machine that declares no port: only the second report.
    fs::remove_all(tree.Root() / "sys/class");
    Press("SpeedButton1");
    recording.Clear();
    checks::RunPlatformSerialCheck(recording);
    ComparePieces(ReadPieces(*Pane("lecteur2")), Merged(recording.Pieces()));
    QCOMPARE(recording.Pieces().size(), std::size_t{1});
    QCOMPARE(recording.Pieces()[0].color, checks::kRed);
    QVERIFY(Pane("lecteur1")->document()->isEmpty());
    QVERIFY(Pane("lecteur3")->document()->isEmpty());
}

void WindowTest::serviceCheckLinesComeAfterThePressWithoutInput() {
    fake_->AddReader("Lecteur A");
    fake_->AddReader("Lecteur B");
    Press("btn_config");
    // The press writes the headings; the readers come once the loop runs.
    ComparePieces(ReadPieces(*Pane("lecteur1")), Pieces{kServiceConnected, kReaderListTitle});
    const Pieces both{kServiceConnected, kReaderListTitle, Plain(u"Lecteur A\r\nLecteur B\r\n")};
    QVERIFY(ServeUnprompted([&] { return ReadPieces(*Pane("lecteur1")) == both; }));
    ComparePieces(ReadPieces(*Pane("lecteur1")), both);

    // A reader attached later is appended, even with another tab shown.
    ShowTab(2);
    fake_->AddReader("Lecteur C");
    const Pieces three{kServiceConnected, kReaderListTitle,
                       Plain(u"Lecteur A\r\nLecteur B\r\nLecteur C\r\n")};
    QVERIFY(ServeUnprompted([&] { return ReadPieces(*Pane("lecteur1")) == three; }));
    // Removed: nothing is written. Back: appended once more.
    fake_->RemoveReader("Lecteur B");
    QVERIFY(Settle(5));
    ComparePieces(ReadPieces(*Pane("lecteur1")), three);
    fake_->AddReader("Lecteur B");
    const Pieces again{kServiceConnected, kReaderListTitle,
                       Plain(u"Lecteur A\r\nLecteur B\r\nLecteur C\r\nLecteur B\r\n")};
    QVERIFY(Serve([&] { return ReadPieces(*Pane("lecteur1")) == again; }));
    QVERIFY(Pane("lecteur3")->document()->isEmpty());
}

void WindowTest::serviceCheckUnreachableThenPressedAgain() {
    fake_->AddReader("Lecteur A");
    fake_->SetService(false);
    Press("btn_config");
    ComparePieces(ReadPieces(*Pane("lecteur1")), Pieces{kServiceFailed});
    QVERIFY(ServeIdlePasses(5));
    ComparePieces(ReadPieces(*Pane("lecteur1")), Pieces{kServiceFailed});

    fake_->SetService(true);
    Press("btn_config");
    const Pieces found{kServiceConnected, kReaderListTitle, Plain(u"Lecteur A\r\n")};
    QVERIFY(Serve([&] { return ReadPieces(*Pane("lecteur1")) == found; }));
}

void WindowTest::serviceCheckPressedTwiceListsEachReaderOnce() {
    fake_->AddReader("Lecteur A");
    Press("btn_config");
    const Pieces found{kServiceConnected, kReaderListTitle, Plain(u"Lecteur A\r\n")};
    QVERIFY(Serve([&] { return ReadPieces(*Pane("lecteur1")) == found; }));
    Press("btn_config");
    ComparePieces(ReadPieces(*Pane("lecteur1")), Pieces{kServiceConnected, kReaderListTitle});
    QVERIFY(Serve([&] { return ReadPieces(*Pane("lecteur1")) == found; }));
    QVERIFY(Settle(5));
    ComparePieces(ReadPieces(*Pane("lecteur1")), found);
}

void WindowTest::closingTheWindowStopsTheManager() {
    fake_->AddReader("Lecteur A");
    Press("btn_config");
    QVERIFY(Serve(
        [&] { return Pane("lecteur1")->toPlainText().contains(QStringLiteral("Lecteur A")); }));
    QVERIFY(fake_->OpenContexts() > 0);
    QVERIFY(window_->close());
    // Stopped at once: no manager, every context released.
    QCOMPARE(window_->CurrentManager(), nullptr);
    QCOMPARE(fake_->OpenContexts(), 0L);
    const long polls = fake_->Calls("SCardGetStatusChange");
    fake_->AddReader("Lecteur B");
    QVERIFY(ServeIdlePasses(5));
    QCOMPARE(fake_->Calls("SCardGetStatusChange"), polls);
    QVERIFY(!Pane("lecteur1")->toPlainText().contains(QStringLiteral("Lecteur B")));
}

void WindowTest::errorEscapingAHandlerIsShownAndTheProgramGoesOn() {
    {
        BoxCloser closer;
        gui::RunHandler(&W(),
                        [] { throw std::runtime_error("Valeur illisible : \\Device\\USBSER000"); });
        QVERIFY(closer.Shown().shown);
        QCOMPARE(closer.Shown().text, QStringLiteral("Valeur illisible : \\Device\\USBSER000"));
        QCOMPARE(closer.Shown().icon, QMessageBox::Critical);
        QCOMPARE(closer.Shown().title, QCoreApplication::applicationName());
    }
    {
        BoxCloser closer;
        gui::RunHandler(&W(), [] { throw 42; });
        QCOMPARE(closer.Shown().text, gui::UnknownErrorText());
    }
    // The window goes on working.
    fake_->AddReader("Lecteur A");
    ShowTab(2);
    Press("SpeedButton2");
    QCOMPARE(HiddenReaders(), QStringList{"Lecteur A"});
}

void WindowTest::errorEscapingTheIdleHookIsShown() {
    int passes = 0;
    mainThread_->SetIdleHook([&] {
        if (++passes == 1) throw std::runtime_error("Erreur pendant l'attente");
    });
    BoxCloser closer;
    QVERIFY(Serve([&] { return closer.Shown().shown && passes >= 3; }));
    mainThread_->SetIdleHook(nullptr);
    QCOMPARE(closer.Shown().text, QStringLiteral("Erreur pendant l'attente"));
    QCOMPARE(closer.Shown().icon, QMessageBox::Critical);
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
