// Window classes and control identifiers of the Windows window, also used by
// the test driver that presses its buttons and reads its panes from another
// process.
#pragma once

namespace gui_win32 {

inline constexpr wchar_t kMainWindowClass[] = L"Tfiche_ppal";
inline constexpr wchar_t kTabSheetClass[] = L"TTabSheet";
inline constexpr wchar_t kSpeedButtonClass[] = L"TSpeedButton";
inline constexpr wchar_t kLabelClass[] = L"TLabel";
inline constexpr wchar_t kMainWindowTitle[] = L"Vardel - Contr\u00f4le des lecteurs";

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
inline constexpr int kIdBtnConfig = 120;    // TabSheet2
inline constexpr int kIdLecteur1 = 121;     // TabSheet2
inline constexpr int kIdSpeedButton1 = 130; // TabSheet3
inline constexpr int kIdLecteur2 = 131;     // TabSheet3
inline constexpr int kIdSpeedButton2 = 140; // TabSheet1
inline constexpr int kIdLecteur3 = 141;     // TabSheet1
inline constexpr int kIdComboBox1 = 142;    // TabSheet1

}  // namespace gui_win32
