// What the window's tests share: reading a report pane back piece by piece
// and comparing it, serving Qt's event loop as the application does (so
// that the idle hook runs), closing the message box an error brings up, and
// finding the window's components by their names.
#pragma once

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QString>
#include <QTest>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "RichTextPane.h"
#include "checks/Report.h"

namespace guitest {

// Only there to turn a hang or a lost line into a failure.
constexpr std::chrono::milliseconds kGuard{10000};

inline QString Q(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline checks::Style StyleOf(const QTextCharFormat& format) {
    return checks::Style{.bold = format.fontWeight() > QFont::Normal,
                         .italic = format.fontItalic(),
                         .underline = format.fontUnderline(),
                         .strikeOut = format.fontStrikeOut()};
}

// Neighbouring pieces with the same attributes make one: a rich-text pane
// keeps runs of text, not the calls that wrote them.
inline std::vector<checks::ReportPiece> Merged(const std::vector<checks::ReportPiece>& pieces) {
    std::vector<checks::ReportPiece> out;
    for (const checks::ReportPiece& piece : pieces) {
        if (piece.text.empty()) continue;
        if (!out.empty() && out.back().style == piece.style && out.back().color == piece.color) {
            out.back().text += piece.text;
        } else {
            out.push_back(piece);
        }
    }
    return out;
}

// The pane's text as runs of one style and colour; each line break is read
// back as CR LF with the attributes it was written with.
inline std::vector<checks::ReportPiece> ReadPieces(const QTextEdit& pane) {
    std::vector<checks::ReportPiece> pieces;
    const QTextDocument* document = pane.document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            pieces.push_back({fragment.text().toStdU16String(), StyleOf(format),
                              gui::FromQColor(format.foreground().color())});
        }
        // A block's character format is that of the line break before it.
        if (const QTextBlock next = block.next(); next.isValid()) {
            const QTextCharFormat format = next.charFormat();
            pieces.push_back(
                {u"\r\n", StyleOf(format), gui::FromQColor(format.foreground().color())});
        }
    }
    return Merged(pieces);
}

inline std::string Describe(const std::vector<checks::ReportPiece>& pieces) {
    std::string out;
    for (const checks::ReportPiece& piece : pieces) {
        std::string text = QString::fromStdU16String(piece.text).toStdString();
        std::string visible;
        for (char c : text)
            visible += c == '\r'   ? std::string("\\r")
                       : c == '\n' ? std::string("\\n")
                                   : std::string(1, c);
        char color[16];
        std::snprintf(color, sizeof color, "%06X", static_cast<unsigned>(piece.color));
        out += "  {\"" + visible + "\" " + (piece.style.bold ? "B" : "") +
               (piece.style.italic ? "I" : "") + (piece.style.underline ? "U" : "") +
               (piece.style.strikeOut ? "S" : "") + (piece.style == checks::kPlain ? "plain" : "") +
               " #" + color + "}\n";
    }
    return out.empty() ? std::string("  (empty)\n") : out;
}

// Fails the test, showing both, when a pane does not hold what it should.
inline void ComparePieces(const std::vector<checks::ReportPiece>& actual,
                          const std::vector<checks::ReportPiece>& expected) {
    if (actual != expected) {
        QFAIL(("pane holds:\n" + Describe(actual) + "expected:\n" + Describe(expected)).c_str());
    }
}

// Runs Qt's event loop, as the application's loop does (the idle hook runs
// each time it is about to wait), until done() or the guard; returns done().
inline bool Serve(const std::function<bool()>& done, std::chrono::milliseconds guard = kGuard) {
    if (done()) return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(guard, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// Like Serve, but nothing of the test's own wakes the loop: done() is looked
// at each time the loop is about to wait, after the idle hook. Only what the
// program itself posts (a reader manager's hand-overs) keeps it going, so a
// condition that the program reaches only when prompted fails at the guard.
// done() must turn true on the GUI thread.
inline bool ServeUnprompted(const std::function<bool()>& done,
                            std::chrono::milliseconds guard = kGuard) {
    if (done()) return true;
    QEventLoop loop;
    const QMetaObject::Connection checking = QObject::connect(
        QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
            if (done()) loop.quit();
        });
    QTimer::singleShot(guard, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(checking);
    return done();
}

// Serves the loop through `passes` more idle passes.
inline bool ServeIdlePasses(int passes) {
    int seen = 0;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    const QMetaObject::Connection counting =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] { ++seen; });
    const bool ok = Serve([&] { return seen >= passes; });
    QObject::disconnect(counting);
    return ok;
}

// What a message box showed before it was closed.
struct ShownBox {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Closes the next message box that comes up and records what it showed.
class BoxCloser {
public:
    BoxCloser() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            shown_ = {true, box->windowTitle(), box->text(), box->icon()};
            timer_.stop();
            box->accept();
        });
        timer_.start(10);
    }
    const ShownBox& Shown() const { return shown_; }

private:
    QTimer timer_;
    ShownBox shown_;
};

template <typename T = QWidget>
T* Find(const QWidget& window, const char* name) {
    return window.findChild<T*>(QString::fromLatin1(name));
}

}  // namespace guitest
