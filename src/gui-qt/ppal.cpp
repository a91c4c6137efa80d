#include "ppal.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QString>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>

#include "HandlerErrors.h"
#include "Links.h"
#include "Look.h"
#include "RichTextPane.h"
#include "checks/SerialCheck.h"
#include "checks/ServiceCheck.h"
#include "checks/Tabs.h"
#include "checks/safeModule.h"

namespace gui {
namespace {

// The links' colour: the usual link blue.
const QColor kLinkColor(0x00, 0x66, 0xCC);

// Flat buttons: no frame until the pointer is over them; the picture left of
// the caption, both centred.
const char* const kFlatButtonStyle = R"(
QPushButton { border: 1px solid transparent; border-radius: 3px; background: transparent; padding: 0px; }
QPushButton:hover { border-color: #a8cbe9; background: #e5f1fb; }
QPushButton:pressed { border-color: #5a9bd5; background: #cce4f7; }
)";

// The page control's tabs drawn as flat buttons, the active one pressed in;
// the pages without a frame of their own (Bevel2 frames the whole).
const char* const kPageControlStyle = R"(
QTabWidget::pane { border: none; background: white; top: 0px; }
QTabWidget::tab-bar { left: 4px; }
QTabBar::tab { border: 1px solid transparent; border-radius: 3px; background: transparent;
               color: black; padding: 3px 9px 4px 9px; margin: 3px 3px 2px 0px; }
QTabBar::tab:hover { border-color: #a8cbe9; background: #e5f1fb; }
QTabBar::tab:selected { border-color: #7eb4ea; background: #cce4f7; }
)";

QString FromU16(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text,
                  const QFont& font) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setFont(font);
    return label;
}

QPushButton* MakeFlatButton(QWidget* parent, const char* name, const QRect& geometry, const QString& caption,
                            const QString& picture) {
    auto* button = new QPushButton(QIcon(picture), caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setIconSize(QSize(24, 24));
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QString::fromLatin1(kFlatButtonStyle));
    // Set, not inherited: a widget with a style sheet of its own inside the
    // page control does not take its page's font.
    button->setFont(TahomaFont(11));
    return button;
}

RichTextPane* MakePane(QWidget* parent, const char* name) {
    auto* pane = new RichTextPane(parent);
    pane->setObjectName(QString::fromLatin1(name));
    pane->setGeometry(0, 91, 553, 159);
    pane->setFont(TahomaFont(11));
    return pane;
}

QWidget* MakeSheet(QTabWidget* pages, const char* name, std::u16string_view caption) {
    auto* sheet = new QWidget;
    sheet->setObjectName(QString::fromLatin1(name));
    // Set, not inherited: a page does not take the window's font through the
    // page control, whose style sheet comes between.
    sheet->setFont(TahomaFont(11));
    pages->addTab(sheet, FromU16(caption));
    return sheet;
}

QLabel* MakeLink(QWidget* parent, const char* name, const QRect& geometry, const QString& caption,
                 const char* address) {
    const QString anchor = QStringLiteral("<a href=\"%1\">%2</a>")
                               .arg(QString::fromUtf8(address).toHtmlEscaped(), caption.toHtmlEscaped());
    QLabel* link = MakeLabel(parent, name, geometry, anchor, TahomaFont(12));
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(false);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setCursor(Qt::PointingHandCursor);
    QPalette palette = link->palette();
    palette.setColor(QPalette::Link, kLinkColor);
    link->setPalette(palette);
    return link;
}

}  // namespace

Tfiche_ppal::Tfiche_ppal(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("fiche_ppal"));
    setWindowTitle(QStringLiteral("Vardel - Contrôle des lecteurs"));
    setFixedSize(596, 427);
    setFont(TahomaFont(11));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Base, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    setPalette(white);
    setAutoFillBackground(true);

    lbl_about1 = MakeLabel(this, "lbl_about1", QRect(108, 14, 361, 29), QStringLiteral("Contrôle des lecteurs Vitale"),
                           TahomaFont(24, true));
    lbl_about1->setAlignment(Qt::AlignCenter);
    lbl_about2 = MakeLabel(this, "lbl_about2", QRect(8, 51, 580, 29),
                           QStringLiteral("Cette application est compatible avec le logiciel Vardel uniquement"),
                           TahomaFont(15));
    lbl_about2->setAlignment(Qt::AlignCenter);

    // The links are made before every other component that takes the focus:
    // the focus goes to the first of them when the window opens, and the tab
    // order runs lbl_link2, lbl_link3, then the page control.
    lbl_link2 = MakeLink(this, "lbl_link2", QRect(451, 403, 108, 19), QStringLiteral("Support à Distance"), kSupportUrl);
    lbl_link3 = MakeLink(this, "lbl_link3", QRect(40, 401, 119, 19), QStringLiteral("Logiciel lecture Vitale"),
                         kProductUrl);

    // Made before the page control, so that it lies beneath it.
    Bevel2 = new QFrame(this);
    Bevel2->setObjectName(QStringLiteral("Bevel2"));
    Bevel2->setGeometry(8, 86, 580, 299);
    Bevel2->setFrameStyle(QFrame::Box | QFrame::Sunken);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(16, 96, 561, 281);
    PageControl1->setStyleSheet(QString::fromLatin1(kPageControlStyle));
    PageControl1->tabBar()->setDrawBase(false);
    PageControl1->tabBar()->setExpanding(false);
    PageControl1->tabBar()->setElideMode(Qt::ElideNone);
    PageControl1->setUsesScrollButtons(false);

    const QString search = QStringLiteral(":/pictures/search.png");
    const QString caption = QStringLiteral(" Rechercher les lecteurs");
    TabSheet2 = MakeSheet(PageControl1, "TabSheet2", checks::kServiceTabCaption);
    btn_config = MakeFlatButton(TabSheet2, "btn_config", QRect(190, 24, 172, 30), caption, search);
    lecteur1 = MakePane(TabSheet2, "lecteur1");

    TabSheet3 = MakeSheet(PageControl1, "TabSheet3", checks::kSerialTabCaption);
    SpeedButton1 = MakeFlatButton(TabSheet3, "SpeedButton1", QRect(190, 24, 172, 30), caption, search);
    lecteur2 = MakePane(TabSheet3, "lecteur2");

    TabSheet1 = MakeSheet(PageControl1, "TabSheet1", checks::kDirectTabCaption);
    SpeedButton2 = MakeFlatButton(TabSheet1, "SpeedButton2", QRect(190, 24, 172, 30), caption, search);
    lecteur3 = MakePane(TabSheet1, "lecteur3");
    // The direct check's list of reader names: never shown.
    ComboBox1 = new QComboBox(TabSheet1);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(0, 0, 553, 21);
    ComboBox1->setEditable(true);
    ComboBox1->setEditText(QStringLiteral("ComboBox1"));
    ComboBox1->hide();

    btn_quit = MakeFlatButton(this, "btn_quit", QRect(248, 391, 95, 30), QStringLiteral(" Quitter"),
                              QStringLiteral(":/pictures/quit.png"));

    QWidget::setTabOrder(lbl_link2, lbl_link3);
    QWidget::setTabOrder(lbl_link3, PageControl1);

    Bind(btn_config, &Tfiche_ppal::btn_configClick);
    Bind(SpeedButton1, &Tfiche_ppal::SpeedButton1Click);
    Bind(SpeedButton2, &Tfiche_ppal::SpeedButton2Click);
    Bind(btn_quit, &Tfiche_ppal::btn_quitClick);
    Bind(lbl_link2, &Tfiche_ppal::lbl_link2Click);
    Bind(lbl_link3, &Tfiche_ppal::lbl_link3Click);

    // Centred on the screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
    }

    FormCreate();
}

Tfiche_ppal::~Tfiche_ppal() {
    // Its watcher goes before the pane it writes to.
    FServiceCheck.reset();
}

void Tfiche_ppal::FormCreate() {
    FServiceCheck = std::make_unique<checks::ServiceCheck>(*lecteur1);
    PageControl1->setCurrentWidget(TabSheet2);
}

void Tfiche_ppal::Bind(QPushButton* button, void (Tfiche_ppal::*handler)()) {
    connect(button, &QPushButton::clicked, this, [this, handler] { RunHandler(this, [this, handler] { (this->*handler)(); }); });
}

void Tfiche_ppal::Bind(QLabel* link, void (Tfiche_ppal::*handler)()) {
    connect(link, &QLabel::linkActivated, this,
            [this, handler] { RunHandler(this, [this, handler] { (this->*handler)(); }); });
}

void Tfiche_ppal::Addl1Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor) {
    lecteur1->Append(AText, AStyle, AColor);
}

void Tfiche_ppal::Addl2Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor) {
    lecteur2->Append(AText, AStyle, AColor);
}

void Tfiche_ppal::Addl3Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor) {
    lecteur3->Append(AText, AStyle, AColor);
}

void Tfiche_ppal::btn_configClick() {
    FServiceCheck->btn_configClick();
}

void Tfiche_ppal::SpeedButton1Click() {
    checks::RunPlatformSerialCheck(*lecteur2);
}

void Tfiche_ppal::SpeedButton2Click() {
    pcsc::StringList hidden;
    for (int i = 0; i < ComboBox1->count(); ++i) hidden.push_back(ComboBox1->itemText(i).toStdU16String());
    const checks::DirectCheckResult result = checks::RunDirectCheck(*lecteur3, hidden);
    if (result.names.empty()) return;  // the check left the hidden list as it was
    // The hidden list now holds exactly this run's names: items and text
    // cleared, then the names in order.
    ComboBox1->clear();
    ComboBox1->clearEditText();
    for (const std::u16string& name : hidden) ComboBox1->addItem(FromU16(name));
    ComboBox1->setCurrentIndex(-1);
}

void Tfiche_ppal::btn_quitClick() {
    QCoreApplication::quit();
}

void Tfiche_ppal::lbl_link2Click() {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(kSupportUrl)));
}

void Tfiche_ppal::lbl_link3Click() {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(kProductUrl)));
}

pcsc::TPCSC* Tfiche_ppal::CurrentManager() const {
    return FServiceCheck->Manager();
}

void Tfiche_ppal::closeEvent(QCloseEvent* event) {
    FServiceCheck->Stop();
    QWidget::closeEvent(event);
}

}  // namespace gui
