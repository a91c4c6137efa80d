// The main window, Tfiche_ppal: the title, the notice, the page control with
// one tab per check, the quit button and the two links. A thin shell over
// the checks library: layout, messages, drawing.
#pragma once

#include <exception>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The PC/SC declarations come before <windows.h>, whose <winerror.h> defines
// the same status names as macros.
#include "checks/Report.h"
#include "checks/ServiceCheck.h"
#include "checks/WinRegistry.h"
#include "pcsc/PCSCDef.h"

#include <windows.h>

#include "RichEditPane.h"
#include "window/MainWindow.h"

namespace gui_win32 {

class Tfiche_ppal {
public:
    explicit Tfiche_ppal(HINSTANCE instance);
    ~Tfiche_ppal();
    Tfiche_ppal(const Tfiche_ppal&) = delete;
    Tfiche_ppal& operator=(const Tfiche_ppal&) = delete;

    // Registers the window classes; once per process, before Create.
    static bool RegisterClasses(HINSTANCE instance);
    // Creates the window and its controls (FormCreate runs from WM_CREATE);
    // false when Windows refuses.
    bool Create();
    void Show(int showCommand);
    // Stops the reader manager and destroys the window (program exit).
    void Close();
    HWND Handle() const { return fiche_ppal; }

    // Shows an error that escaped a handler in a message box; the program
    // goes on.
    void ShowException(std::exception_ptr error);

    void Addl1Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor);
    void Addl2Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor);
    void Addl3Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK TabSheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PageControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR id, DWORD_PTR self);
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs a handler; what it throws goes to a message box.
    template <typename Handler>
    void Guarded(Handler&& handler);

    // Makes the controls by walking the window's model (window/MainWindow.h).
    void CreateControls();
    HWND CreateControl(const window::Component& c, HWND parent);
    // Lays the window out for a display of `dpi` dots per inch: window
    // size, every control's place, fonts, pictures and the panes' text, all
    // scaled from the 96-dpi design. WM_DPICHANGED (the window moved to a
    // monitor of another scale) calls it with the place Windows suggests,
    // WM_CREATE with none (the size changes, the top left corner stays).
    void ApplyDpi(int dpi, const RECT* suggested);
    HWND CreateTabSheet(int id, int index);
    HWND CreatePane(HWND sheet, int id, const window::Component& c);
    // The font of the design at the window's scale (ApplyDpi makes them).
    HFONT FontOf(const window::Font& font) const;
    void SetFonts(int dpi);
    void SetPictures(int dpi);
    void SetClientSize(int width, int height, const RECT* suggested);
    void PlaceControls(int dpi);
    void PlaceLabel(HWND label, const window::Component& c, int dpi);
    void PlaceLink(HWND link, const window::Component& c, int dpi);
    void PlaceTabSheets();
    void ShowSelectedSheet();
    void PaintBevel(HDC dc);
    void OnCommand(int id, int code);
    void OnNotify(const NMHDR& header);

    // Handlers.
    void FormCreate();
    void btn_configClick();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void btn_quitClick();
    void lbl_link2Click();
    void lbl_link3Click();

    HINSTANCE instance_;
    const std::wstring title_;
    int dpi_ = 96;
    // The controls by their component's name.
    std::map<std::string_view, HWND> controls_;
    // At the window's scale (ApplyDpi): each font of the design, each
    // picture.
    std::vector<std::pair<window::Font, HFONT>> fonts_;
    std::map<window::Picture, HBITMAP> pictures_;
    HBRUSH white_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;

    HWND fiche_ppal = nullptr;
    HWND lbl_about1 = nullptr;
    HWND lbl_about2 = nullptr;
    HWND PageControl1 = nullptr;
    HWND TabSheet2 = nullptr;
    HWND btn_config = nullptr;
    HWND lecteur1 = nullptr;
    HWND TabSheet3 = nullptr;
    HWND SpeedButton1 = nullptr;
    HWND lecteur2 = nullptr;
    HWND TabSheet1 = nullptr;
    HWND SpeedButton2 = nullptr;
    HWND lecteur3 = nullptr;
    HWND ComboBox1 = nullptr;
    HWND btn_quit = nullptr;
    HWND lbl_link2 = nullptr;
    HWND lbl_link3 = nullptr;

    RichEditPane pane1_;
    RichEditPane pane2_;
    RichEditPane pane3_;
    // The service check holds the current reader manager (FPCSC).
    checks::ServiceCheck service_{pane1_};
    std::unique_ptr<checks::WinRegistry> Registre;
    // The items of ComboBox1, as the direct check fills them.
    pcsc::StringList comboItems_;
};

}  // namespace gui_win32
