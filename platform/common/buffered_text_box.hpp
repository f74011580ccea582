#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "controls.hpp"

namespace zorvik {

// The most lines the results box keeps: five times the largest discovery, and
// few enough that a window holding them, at some 300 bytes a line, plus the
// arrival queue's 64 MiB stays within 512 MB however long a flood lasts.
inline constexpr std::size_t kMaxResultLines = 500'000;

// A results box over a text widget. Reading gives exactly the text last set,
// or what the user has typed since. The logic reads and sets the whole text at
// every step, but when a text extends what the widget shows, the widget takes
// the new part only at flush(): all the lines of one delivery slice in one
// insertion, which the endpoint makes before control returns to the event
// loop, so no input or paint sees the widget behind the text. Any other text
// (an empty box, or one set over the user's typing) replaces the widget's at
// once. Program writes are never the user's to undo.
//
// Like a terminal's scrollback, the box holds at most `maxLines` lines (each
// ending in LF), typed ones too: past them, the oldest leave the text and the
// widget together, a fiftieth of the limit at a time, since dropping the front
// costs a copy of what stays.
class BufferedTextBox : public TextBox {
public:
    ResultsText text() const final;
    void setText(ResultsText text) final;

    // Puts what was appended since the last flush into the widget.
    void flush();

protected:
    explicit BufferedTextBox(std::size_t maxLines) : maxLines_(maxLines) {}
    ~BufferedTextBox() = default;

    // The widget's text changed; unless the program made the change, the user
    // did, and the next read takes the text from the widget.
    void widgetChanged() {
        if (!writing_) {
            typedByUser_ = true;
        }
    }

    // The widget's whole text, lines ending in CR LF.
    virtual std::string readWidget() const = 0;
    // Replaces the widget's whole text, emptying its undo history.
    virtual void replaceWidget(std::string_view text) = 0;
    // Adds to the end of the widget's text, not undoably; `afterCr` when the
    // widget's text ends in a CR, which the tail's first LF may complete.
    virtual void appendToWidget(std::string_view tail, bool afterCr) = 0;
    // Removes `front`, whole lines that begin the widget's text, not undoably,
    // keeping the user's caret, selection and view on the text that stays.
    virtual void removeFromWidget(std::string_view front) = 0;

private:
    // The lines kept when the limit is passed: the widget takes some milliseconds
    // for each thousand lines that leave, and the text a copy for each batch.
    std::size_t keptLines() const { return maxLines_ - maxLines_ / 50; }
    // `text`, of `lines` lines, without its oldest if they are more than the limit.
    ResultsText withinLimit(ResultsText text, std::size_t& lines) const;

    std::size_t maxLines_;
    mutable ResultsText text_;          // what the logic set or the user typed
    mutable ResultsText shown_;         // what the widget holds; text_ extends it
    mutable std::size_t shownLines_ = 0;
    mutable bool typedByUser_ = false;
    bool writing_ = false;
};

}  // namespace zorvik
