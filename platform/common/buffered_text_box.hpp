#pragma once

#include <string>
#include <string_view>

#include "controls.hpp"

namespace zorvik {

// A results box over a text widget. The logic reads and sets the whole text at
// every step, but the widget takes the lines appended during one delivery slice
// in one insertion at flush(), which the endpoint calls before control returns
// to the event loop, so nothing the user does can fall between a line and its
// place in the widget. A text that does not extend the box's own (the empty
// text of a Discover, or any text after the user typed) replaces the widget's
// at once. Program writes are never undoable.
class BufferedTextBox : public TextBox {
public:
    ResultsText text() const final;
    void setText(ResultsText text) final;

    // Puts the lines appended since the last flush into the widget.
    void flush();

protected:
    ~BufferedTextBox() = default;

    // The widget's text changed by the user's hand: the next read takes it from the widget.
    void userEdited() {
        if (!writing_) {
            edited_ = true;
        }
    }

    // The widget's whole text, lines ending in CR LF.
    virtual std::string readWidget() const = 0;
    // Replaces the widget's whole text; not undoable.
    virtual void replaceWidget(std::string_view text) = 0;
    // Adds to the end of the widget's text; not undoable.
    virtual void appendToWidget(std::string_view tail) = 0;

private:
    mutable ResultsText text_;
    std::string pending_;
    mutable bool edited_ = false;
    bool writing_ = false;
};

}  // namespace zorvik
