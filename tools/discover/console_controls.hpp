#pragma once

#include <string>

#include "controls.hpp"

namespace zorvik {

// The button of a program without a window: nothing shows it, and the program
// presses it once at start, so its caption and state need not be kept.
class ConsoleButton final : public CommandButton {
public:
    void setCaption(std::string_view) override {}
    void setEnabled(bool) override {}
    void Refresh() override {}
};

// The results box of a program without a window: each line appended to the
// text is written to the output as it arrives, with a plain newline. What is
// written is gone: the box keeps no text, so a long run does not grow.
class ConsoleResults final : public TextBox {
public:
    explicit ConsoleResults(int fd) : fd_(fd) {}

    ResultsText text() const override { return {}; }
    void setText(ResultsText text) override;

    std::size_t linesWritten() const { return lines_; }

private:
    int fd_;
    std::size_t lines_ = 0;
};

}  // namespace zorvik
