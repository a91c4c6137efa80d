// What every check writes: pieces of text, each with its own font style and
// colour, appended at the end of a pane. A check only knows the ReportPane
// interface, so any front end (a rich-edit control, a terminal, a test) can
// show the same report.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace checks {

// A set out of the four font styles; the checks use none, bold alone and
// underline alone.
struct Style {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;

    friend bool operator==(const Style&, const Style&) = default;
};

inline constexpr Style kPlain{};
inline constexpr Style kBold{.bold = true};
inline constexpr Style kUnderline{.underline = true};

// Colour laid out 0x00BBGGRR, as the rich-edit control takes it.
using Color = std::uint32_t;

inline constexpr Color kRed = 0x0000FF;
inline constexpr Color kGreen = 0x008000;
inline constexpr Color kBlack = 0x000000;

// Line end written inside the text of every report line.
inline constexpr std::u16string_view kLineEnd = u"\r\n";

struct ReportPiece {
    std::u16string text;
    Style style;
    Color color = kBlack;

    friend bool operator==(const ReportPiece&, const ReportPiece&) = default;
};

// A report pane. Append adds no line break of its own, and each piece carries
// its own attributes: nothing carries over from one piece to the next.
class ReportPane {
public:
    virtual ~ReportPane() = default;
    virtual void Clear() = 0;
    virtual void Append(std::u16string_view text, Style style, Color color) = 0;
};

// Keeps the pieces in the order they were appended, for front ends that draw
// them later and for tests.
class RecordingPane : public ReportPane {
public:
    void Clear() override;
    void Append(std::u16string_view text, Style style, Color color) override;

    const std::vector<ReportPiece>& Pieces() const { return pieces_; }
    // The pane's text without attributes.
    std::u16string Text() const;

private:
    std::vector<ReportPiece> pieces_;
};

}  // namespace checks
