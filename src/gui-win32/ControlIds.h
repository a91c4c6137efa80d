// Window classes and control identifiers of the Windows window, also used by
// the test driver that presses its buttons and reads its panes from another
// process.
#pragma once

#include <string_view>

namespace gui_win32 {

inline constexpr wchar_t kMainWindowClass[] = L"Tfiche_ppal";
inline constexpr wchar_t kTabSheetClass[] = L"TTabSheet";
inline constexpr wchar_t kSpeedButtonClass[] = L"TSpeedButton";
inline constexpr wchar_t kLabelClass[] = L"TLabel";

// Children of the window.
inline constexpr int kIdLblAbout1 = 101;
inline constexpr int kIdLblAbout2 = 102;
inline constexpr int kIdPageControl1 = 103;
inline constexpr int kIdBtnQuit = 104;
inline constexpr int kIdLblLink2 = 105;
inline constexpr int kIdLblLink3 = 106;
// The three tab sheets, children of the window shown over the page control.
inline constexpr int kIdTabSheet2 = 110;  // "Lecteurs PC/SC"
inline constexpr int kIdTabSheet3 = 111;  // "Lecteurs COM (GALSS)"
inline constexpr int kIdTabSheet1 = 112;  // "Lecteurs PC/SC (sans ScardSvr)"
// Children of the sheets.
inline constexpr int kIdBtnConfig = 120;     // TabSheet2
inline constexpr int kIdLecteur1 = 121;      // TabSheet2
inline constexpr int kIdSpeedButton1 = 130;  // TabSheet3
inline constexpr int kIdLecteur2 = 131;      // TabSheet3
inline constexpr int kIdSpeedButton2 = 140;  // TabSheet1
inline constexpr int kIdLecteur3 = 141;      // TabSheet1
inline constexpr int kIdComboBox1 = 142;     // TabSheet1

// The identifier of a component's control (window/MainWindow.h); 0 for the
// window itself and for the bevel, which it paints.
constexpr int ControlId(std::string_view name) {
    constexpr struct {
        std::string_view name;
        int id;
    } ids[] = {{"lbl_about1", kIdLblAbout1},      {"lbl_about2", kIdLblAbout2},
               {"PageControl1", kIdPageControl1}, {"btn_quit", kIdBtnQuit},
               {"lbl_link2", kIdLblLink2},        {"lbl_link3", kIdLblLink3},
               {"TabSheet2", kIdTabSheet2},       {"TabSheet3", kIdTabSheet3},
               {"TabSheet1", kIdTabSheet1},       {"btn_config", kIdBtnConfig},
               {"lecteur1", kIdLecteur1},         {"SpeedButton1", kIdSpeedButton1},
               {"lecteur2", kIdLecteur2},         {"SpeedButton2", kIdSpeedButton2},
               {"lecteur3", kIdLecteur3},         {"ComboBox1", kIdComboBox1}};
    for (const auto& entry : ids) {
        if (entry.name == name) return entry.id;
    }
    return 0;
}

}  // namespace gui_win32
