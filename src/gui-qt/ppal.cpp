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

#include <map>
#include <stdexcept>
#include <string>

#include "HandlerErrors.h"
#include "Look.h"
#include "RichTextPane.h"
#include "checks/SerialCheck.h"
#include "checks/ServiceCheck.h"
#include "checks/safeModule.h"
#include "window/MainWindow.h"

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

QString Name(const window::Component& c) {
    return QString::fromLatin1(c.name.data(), static_cast<qsizetype>(c.name.size()));
}

QRect Geometry(const window::Rect& r) {
    return QRect(r.left, r.top, r.width, r.height);
}

QFont FontOf(const window::Component& c) {
    return TahomaFont(c.font.Pixels(), c.font.bold);
}

QLabel* MakeLabel(QWidget* parent, const window::Component& c, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(Geometry(c.place));
    return label;
}

QPushButton* MakeFlatButton(QWidget* parent, const window::Component& c) {
    const QString picture = QStringLiteral(":/pictures/%1.png")
                                .arg(QString::fromLatin1(window::PictureName(c.picture)));
    auto* button = new QPushButton(QIcon(picture), FromU16(c.caption), parent);
    button->setGeometry(Geometry(c.place));
    button->setIconSize(QSize(window::kPictureSize, window::kPictureSize));
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QString::fromLatin1(kFlatButtonStyle));
    return button;
}

QTabWidget* MakePageControl(QWidget* parent, const window::Component& c) {
    auto* pages = new QTabWidget(parent);
    pages->setGeometry(Geometry(c.place));
    pages->setStyleSheet(QString::fromLatin1(kPageControlStyle));
    pages->tabBar()->setDrawBase(false);
    pages->tabBar()->setExpanding(false);
    pages->tabBar()->setElideMode(Qt::ElideNone);
    pages->setUsesScrollButtons(false);
    return pages;
}

QWidget* MakeSheet(QWidget* parent, const window::Component& c) {
    auto* sheet = new QWidget;
    qobject_cast<QTabWidget*>(parent)->addTab(sheet, FromU16(c.caption));
    return sheet;
}

QLabel* MakeLink(QWidget* parent, const window::Component& c) {
    const QString anchor =
        QStringLiteral("<a href=\"%1\">%2</a>")
            .arg(QString::fromUtf8(c.address).toHtmlEscaped(), FromU16(c.caption).toHtmlEscaped());
    QLabel* link = MakeLabel(parent, c, anchor);
    link->setTextFormat(Qt::RichText);
    link->setOpenExternalLinks(false);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setCursor(Qt::PointingHandCursor);
    QPalette palette = link->palette();
    palette.setColor(QPalette::Link, kLinkColor);
    link->setPalette(palette);
    return link;
}

QComboBox* MakeComboBox(QWidget* parent, const window::Component& c) {
    auto* combo = new QComboBox(parent);
    combo->setGeometry(Geometry(c.place));
    combo->setEditable(true);
    combo->setEditText(FromU16(c.caption));
    return combo;
}

}  // namespace

Tfiche_ppal::Tfiche_ppal(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    // The components in the model's order: the links before every other
    // component that takes the focus, so that the focus goes to the first
    // of them when the window opens; the bevel before the page control, so
    // that it lies beneath it.
    std::map<std::string_view, QWidget*> made;
    for (const window::Component& c : window::Components()) {
        QWidget* widget = Make(c, c.parent.empty() ? nullptr : made.at(c.parent));
        widget->setObjectName(Name(c));
        // Set, not inherited: a widget with a style sheet of its own, or
        // inside the page control's, does not take its parent's font.
        widget->setFont(FontOf(c));
        if (c.colour != window::kWindowText) {
            QPalette palette = widget->palette();
            palette.setColor(QPalette::WindowText, QColor(c.colour & 0xFF, (c.colour >> 8) & 0xFF,
                                                          (c.colour >> 16) & 0xFF));
            widget->setPalette(palette);
        }
        if (!c.visible) widget->hide();
        made[c.name] = widget;
    }
    const auto get = [&made]<typename T>(const char* name, T*& field) {
        field = dynamic_cast<T*>(made.at(name));
        if (!field)
            throw std::logic_error(std::string(name) + " is not of the kind the window expects");
    };
    get("lbl_about1", lbl_about1);
    get("lbl_about2", lbl_about2);
    get("Bevel2", Bevel2);
    get("PageControl1", PageControl1);
    get("TabSheet2", TabSheet2);
    get("btn_config", btn_config);
    get("lecteur1", lecteur1);
    get("TabSheet3", TabSheet3);
    get("SpeedButton1", SpeedButton1);
    get("lecteur2", lecteur2);
    get("TabSheet1", TabSheet1);
    get("SpeedButton2", SpeedButton2);
    get("lecteur3", lecteur3);
    get("ComboBox1", ComboBox1);
    get("btn_quit", btn_quit);
    get("lbl_link2", lbl_link2);
    get("lbl_link3", lbl_link3);

    // The Tab key's stops in their order. A tab sheet's pane follows the
    // page control by itself: Qt's focus chain keeps a widget's children
    // after it.
    QWidget* previous = nullptr;
    for (const window::Component& c : window::Components()) {
        if (c.tabStop == 0 || window::Find(c.parent).kind == window::Kind::TabSheet) continue;
        if (previous) QWidget::setTabOrder(previous, made.at(c.name));
        previous = made.at(c.name);
    }

    Bind(btn_config, &Tfiche_ppal::btn_configClick);
    Bind(SpeedButton1, &Tfiche_ppal::SpeedButton1Click);
    Bind(SpeedButton2, &Tfiche_ppal::SpeedButton2Click);
    Bind(btn_quit, &Tfiche_ppal::btn_quitClick);
    Bind(lbl_link2, &Tfiche_ppal::lbl_link2Click);
    Bind(lbl_link3, &Tfiche_ppal::lbl_link3Click);

    // Centred on the screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));
    }

    FormCreate();
}

QWidget* Tfiche_ppal::Make(const window::Component& c, QWidget* parent) {
    switch (c.kind) {
        case window::Kind::Window: {
            setWindowTitle(FromU16(c.caption));
            setFixedSize(c.place.width, c.place.height);
            QPalette white = palette();
            white.setColor(QPalette::Window, Qt::white);
            white.setColor(QPalette::Base, Qt::white);
            white.setColor(QPalette::WindowText, Qt::black);
            setPalette(white);
            setAutoFillBackground(true);
            return this;
        }
        case window::Kind::Label: {
            QLabel* label = MakeLabel(parent, c, FromU16(c.caption));
            label->setAlignment(Qt::AlignCenter);
            return label;
        }
        case window::Kind::LinkLabel: return MakeLink(parent, c);
        case window::Kind::Bevel: {
            auto* bevel = new QFrame(parent);
            bevel->setGeometry(Geometry(c.place));
            bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
            return bevel;
        }
        case window::Kind::PageControl: return MakePageControl(parent, c);
        case window::Kind::TabSheet: return MakeSheet(parent, c);
        case window::Kind::FlatButton: return MakeFlatButton(parent, c);
        case window::Kind::ReportPane: {
            auto* pane = new RichTextPane(parent);
            pane->setGeometry(Geometry(c.place));
            return pane;
        }
        case window::Kind::ComboBox: return MakeComboBox(parent, c);
    }
    throw std::logic_error("a kind of component the window cannot make");
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
    connect(button, &QPushButton::clicked, this,
            [this, handler] { RunHandler(this, [this, handler] { (this->*handler)(); }); });
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
    for (int i = 0; i < ComboBox1->count(); ++i)
        hidden.push_back(ComboBox1->itemText(i).toStdU16String());
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
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(window::kSupportUrl)));
}

void Tfiche_ppal::lbl_link3Click() {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(window::kProductUrl)));
}

pcsc::TPCSC* Tfiche_ppal::CurrentManager() const {
    return FServiceCheck->Manager();
}

void Tfiche_ppal::closeEvent(QCloseEvent* event) {
    FServiceCheck->Stop();
    QWidget::closeEvent(event);
}

}  // namespace gui
