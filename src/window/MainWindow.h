// The main window, fiche_ppal, as it is designed: each component with its
// name, kind, place, caption, font, colour, visibility and place in the Tab
// key's order, the links' addresses and the pictures. Both windows (Qt on
// Linux, Win32 on Windows) make their controls by walking it, and the
// terminal program takes its checks' captions from it; what stays in each
// window is its toolkit's own (messages, painting, the main thread).
//
// No toolkit here: places are pixels of the design at 96 dots per inch,
// colours 0x00BBGGRR, texts UTF-16 as both toolkits take them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace window {

enum class Kind {
    Window,       // fixed single border, system menu and minimise only, white
    Label,        // one line of text, centred, fixed size
    LinkLabel,    // its caption is an anchor to its address; hand cursor
    Bevel,        // a frame around the page control
    PageControl,  // its tabs drawn as flat buttons; the first tab active at start
    TabSheet,     // one tab of the page control: its caption is the tab's
    FlatButton,   // no frame until hovered, no keyboard focus, hand cursor,
                  // its picture left of its caption
    ReportPane,   // read-only rich text, no border, both scroll bars
    ComboBox,     // an editable drop-down list
};

// Pixels of the 96-dpi design, in the parent's client area (a tab sheet's
// children in the sheet). The window's is its client size, centred on the
// screen; a tab sheet has none: it takes the page control's display area.
struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    constexpr int Right() const { return left + width; }
    constexpr int Bottom() const { return top + height; }
};

// Every font is Tahoma, sized as it was designed: in points (8 pt is 11 px
// at 96 dpi), in pixels of the characters' height, or in pixels of the
// whole cell, internal leading included.
inline constexpr std::u16string_view kFontFace = u"Tahoma";
struct Font {
    enum class Unit { Points, Pixels, CellPixels };

    int size = 8;
    Unit unit = Unit::Points;
    bool bold = false;

    // The characters' height in pixels at 96 dpi.
    int Pixels() const;

    friend bool operator==(const Font&, const Font&) = default;
};

// 0x00BBGGRR.
using Colour = std::uint32_t;
inline constexpr Colour kBlack = 0x000000;
inline constexpr Colour kWhite = 0xFFFFFF;
// Not a colour of its own: the desktop's window-text colour, black in the
// light look both windows keep.
inline constexpr Colour kWindowText = 0xFF000000;

// The flat buttons' pictures, drawn at build time from the SVG of the same
// name (src/window/pictures): 24 x 24 at 96 dpi, larger on finer screens.
enum class Picture { None, Search, Quit };
inline constexpr int kPictureSize = 24;
std::string_view PictureName(Picture picture);  // "search", "quit"
// The application's icon, from pictures/vardel-lecteurs.svg.
inline constexpr std::string_view kIconName = "vardel-lecteurs";

struct Component {
    std::string_view name = {};  // the component's name: "lbl_about1", "lecteur1"
    Kind kind = Kind::Label;
    std::string_view parent = {};  // the component it is made in; "" for the window
    Rect place = {};
    std::u16string_view caption = {};  // the window's title, a tab's or a button's caption
    Font font = {};
    Colour colour = kWindowText;  // its text's
    bool visible = true;
    // Its rank among the Tab key's stops, from 1; 0 for none. The panes,
    // one per tab sheet, share theirs: the shown one follows the page
    // control.
    int tabStop = 0;
    Picture picture = Picture::None;
    const char* address = nullptr;  // a link's, UTF-8
};

// The window first, then every component after its parent, in the order
// they are made: the Tab key's stops come in their order, and the bevel
// before the page control it frames.
std::span<const Component> Components();
// The component of that name; std::out_of_range for none.
const Component& Find(std::string_view name);

// The addresses the two links open. Whoever packages the tool sets them
// (CMake options VARDEL_SUPPORT_URL and VARDEL_PRODUCT_URL); the defaults
// are placeholders that open nothing real.
extern const char* const kSupportUrl;  // "Support à Distance": the remote-support download page
extern const char* const kProductUrl;  // "Logiciel lecture Vitale": the product's web site

}  // namespace window
