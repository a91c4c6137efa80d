// The main window, fiche_ppal: a notice, one tab per check (service check,
// serial-port check, direct check), each with its search button and its
// report pane, a quit button and two web links. The checks themselves live
// in the checks library; the window lays them out and hands them its panes.
#pragma once

#include <QWidget>

#include <memory>
#include <string_view>

#include "checks/Report.h"

class QCloseEvent;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QTabWidget;

namespace checks {
class ServiceCheck;
}
namespace pcsc {
class TPCSC;
}
namespace window {
struct Component;
}

namespace gui {

class RichTextPane;

class Tfiche_ppal : public QWidget {
    Q_OBJECT

public:
    // Creates the window and its components; the creation handler FormCreate
    // runs at the end.
    explicit Tfiche_ppal(QWidget* parent = nullptr);
    // Stops the service check's reader manager before the panes go.
    ~Tfiche_ppal() override;

    // Append a piece at the end of lecteur1, lecteur2, lecteur3.
    void Addl1Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor);
    void Addl2Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor);
    void Addl3Text(std::u16string_view AText, checks::Style AStyle, checks::Color AColor);

    // The handlers, bound to the components' clicks. An error escaping one
    // of them is shown in a message box and the program goes on.
    void btn_configClick();    // service check, into lecteur1
    void SpeedButton1Click();  // serial-port check, into lecteur2
    void SpeedButton2Click();  // direct check, into lecteur3 and ComboBox1
    void btn_quitClick();      // ends the application
    void lbl_link2Click();     // opens the remote-support download page
    void lbl_link3Click();     // opens the product's web site

    // The reader manager the first tab follows: none before the first press
    // nor once the window has closed.
    pcsc::TPCSC* CurrentManager() const;

protected:
    // The main window closing ends the program: the reader manager is
    // stopped first.
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    // Makes one component of the window's model (window/MainWindow.h) in
    // parent; the window itself is this.
    QWidget* Make(const window::Component& c, QWidget* parent);
    // Binds a component's signal to a handler run through RunHandler.
    void Bind(QPushButton* button, void (Tfiche_ppal::*handler)());
    void Bind(QLabel* link, void (Tfiche_ppal::*handler)());

    QLabel* lbl_about1;
    QLabel* lbl_about2;
    QFrame* Bevel2;
    QTabWidget* PageControl1;
    QWidget* TabSheet2;
    QPushButton* btn_config;
    RichTextPane* lecteur1;
    QWidget* TabSheet3;
    QPushButton* SpeedButton1;
    RichTextPane* lecteur2;
    QWidget* TabSheet1;
    QPushButton* SpeedButton2;
    RichTextPane* lecteur3;
    QComboBox* ComboBox1;
    QPushButton* btn_quit;
    QLabel* lbl_link2;
    QLabel* lbl_link3;

    // The service check keeps the current reader manager (FPCSC) and the
    // idle handler; made with the window, it writes into lecteur1.
    std::unique_ptr<checks::ServiceCheck> FServiceCheck;
};

}  // namespace gui
