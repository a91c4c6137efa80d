#include "window/MainWindow.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

#include "checks/Tabs.h"

namespace window {

const char* const kSupportUrl = VARDEL_SUPPORT_URL;
const char* const kProductUrl = VARDEL_PRODUCT_URL;

namespace {

// Tahoma's em is 2048 units; its cell, internal leading included, 2472
// (ascent 2049, descent 423).
constexpr int kTahomaEm = 2048;
constexpr int kTahomaCell = 2472;

constexpr Font kWindowFont{8, Font::Unit::Points};
constexpr Font kTitleFont{18, Font::Unit::Points, true};
constexpr Font kNoticeFont{15, Font::Unit::Pixels};
constexpr Font kLinkFont{15, Font::Unit::CellPixels};

constexpr Rect kSearchButton{190, 24, 172, 30};
constexpr Rect kPane{0, 91, 553, 159};
constexpr std::u16string_view kSearchCaption = u" Rechercher les lecteurs";

constexpr std::array kComponents = {
    Component{.name = "fiche_ppal",
              .kind = Kind::Window,
              .place = {0, 0, 596, 427},
              .caption = u"Vardel - Contrôle des lecteurs",
              .font = kWindowFont},
    Component{.name = "lbl_about1",
              .kind = Kind::Label,
              .parent = "fiche_ppal",
              .place = {108, 14, 361, 29},
              .caption = u"Contrôle des lecteurs Vitale",
              .font = kTitleFont,
              .colour = kBlack},
    Component{.name = "lbl_about2",
              .kind = Kind::Label,
              .parent = "fiche_ppal",
              .place = {8, 51, 580, 29},
              .caption = u"Cette application est compatible avec le logiciel Vardel uniquement",
              .font = kNoticeFont,
              .colour = kBlack},
    Component{.name = "lbl_link2",
              .kind = Kind::LinkLabel,
              .parent = "fiche_ppal",
              .place = {451, 403, 108, 19},
              .caption = u"Support à Distance",
              .font = kLinkFont,
              .tabStop = 1,
              .address = VARDEL_SUPPORT_URL},
    Component{.name = "lbl_link3",
              .kind = Kind::LinkLabel,
              .parent = "fiche_ppal",
              .place = {40, 401, 119, 19},
              .caption = u"Logiciel lecture Vitale",
              .font = kLinkFont,
              .tabStop = 2,
              .address = VARDEL_PRODUCT_URL},
    Component{.name = "Bevel2",
              .kind = Kind::Bevel,
              .parent = "fiche_ppal",
              .place = {8, 86, 580, 299},
              .font = kWindowFont},
    Component{.name = "PageControl1",
              .kind = Kind::PageControl,
              .parent = "fiche_ppal",
              .place = {16, 96, 561, 281},
              .font = kWindowFont,
              .tabStop = 3},
    // The service check's tab.
    Component{.name = "TabSheet2",
              .kind = Kind::TabSheet,
              .parent = "PageControl1",
              .caption = checks::kServiceTabCaption,
              .font = kWindowFont},
    Component{.name = "btn_config",
              .kind = Kind::FlatButton,
              .parent = "TabSheet2",
              .place = kSearchButton,
              .caption = kSearchCaption,
              .font = kWindowFont,
              .picture = Picture::Search},
    Component{.name = "lecteur1",
              .kind = Kind::ReportPane,
              .parent = "TabSheet2",
              .place = kPane,
              .font = kWindowFont,
              .tabStop = 4},
    // The serial-port check's tab.
    Component{.name = "TabSheet3",
              .kind = Kind::TabSheet,
              .parent = "PageControl1",
              .caption = checks::kSerialTabCaption,
              .font = kWindowFont},
    Component{.name = "SpeedButton1",
              .kind = Kind::FlatButton,
              .parent = "TabSheet3",
              .place = kSearchButton,
              .caption = kSearchCaption,
              .font = kWindowFont,
              .picture = Picture::Search},
    Component{.name = "lecteur2",
              .kind = Kind::ReportPane,
              .parent = "TabSheet3",
              .place = kPane,
              .font = kWindowFont,
              .tabStop = 4},
    // The direct check's tab.
    Component{.name = "TabSheet1",
              .kind = Kind::TabSheet,
              .parent = "PageControl1",
              .caption = checks::kDirectTabCaption,
              .font = kWindowFont},
    Component{.name = "SpeedButton2",
              .kind = Kind::FlatButton,
              .parent = "TabSheet1",
              .place = kSearchButton,
              .caption = kSearchCaption,
              .font = kWindowFont,
              .picture = Picture::Search},
    Component{.name = "lecteur3",
              .kind = Kind::ReportPane,
              .parent = "TabSheet1",
              .place = kPane,
              .font = kWindowFont,
              .tabStop = 4},
    // The direct check's list of reader names: never shown.
    Component{.name = "ComboBox1",
              .kind = Kind::ComboBox,
              .parent = "TabSheet1",
              .place = {0, 0, 553, 21},
              .caption = u"ComboBox1",
              .font = kWindowFont,
              .visible = false},
    Component{.name = "btn_quit",
              .kind = Kind::FlatButton,
              .parent = "fiche_ppal",
              .place = {248, 391, 95, 30},
              .caption = u" Quitter",
              .font = kWindowFont,
              .picture = Picture::Quit},
};

// A window makes its components in this order: each parent comes first, and
// the Tab key's stops come in their order.
constexpr bool MadeInOrder() {
    int lastStop = 0;
    for (std::size_t i = 0; i < kComponents.size(); ++i) {
        const Component& c = kComponents[i];
        if ((i == 0) != c.parent.empty()) return false;
        bool parentBefore = c.parent.empty();
        for (std::size_t j = 0; j < i; ++j)
            parentBefore = parentBefore || kComponents[j].name == c.parent;
        if (!parentBefore) return false;
        if (c.tabStop != 0) {
            if (c.tabStop < lastStop) return false;
            lastStop = c.tabStop;
        }
    }
    return true;
}
static_assert(MadeInOrder(), "each component after its parent, the Tab key's stops in their order");

}  // namespace

int Font::Pixels() const {
    switch (unit) {
        case Unit::Points: return (size * 96 + 36) / 72;
        case Unit::Pixels: return size;
        case Unit::CellPixels: return (size * kTahomaEm + kTahomaCell / 2) / kTahomaCell;
    }
    return size;
}

std::string_view PictureName(Picture picture) {
    switch (picture) {
        case Picture::Search: return "search";
        case Picture::Quit: return "quit";
        case Picture::None: break;
    }
    return {};
}

std::span<const Component> Components() {
    return kComponents;
}

const Component& Find(std::string_view name) {
    const auto found = std::find_if(kComponents.begin(), kComponents.end(),
                                    [name](const Component& c) { return c.name == name; });
    if (found == kComponents.end())
        throw std::out_of_range("no component " + std::string(name) + " in the window");
    return *found;
}

}  // namespace window
