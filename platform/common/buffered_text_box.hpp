#pragma once

#include <string>
#include <string_view>

#include "controls.hpp"

namespace zorvik {

// A results box over a text widget. Reading gives exactly the text last set,
// or what the user has typed since. The logic reads and sets the whole text at
// every step, but when a text extends what the widget shows, the widget takes
// the new part only at flush(): all the lines of one delivery slice in one
// insertion, which the endpoint makes before control returns to the event
// loop, so no input or paint sees the widget behind the text. Any other text
// (an empty box, or one set over the user's typing) replaces the widget's at
// once. Program writes are never the user's to undo.
class BufferedTextBox : public TextBox {
public:
    ResultsText text() const final;
    void setText(ResultsText text) final;

    // Puts what was appended since the last flush into the widget.
    void flush();

protected:
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

private:
    mutable ResultsText text_;   // what the logic set or the user typed
    mutable ResultsText shown_;  // what the widget holds; text_ extends it
    mutable bool typedByUser_ = false;
    bool writing_ = false;
};

}  // namespace zorvik
