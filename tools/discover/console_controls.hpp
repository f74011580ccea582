#pragma once

#include <cstdio>
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
// text is written to the output as it arrives, with a plain newline.
class ConsoleResults final : public TextBox {
public:
    explicit ConsoleResults(std::FILE* out) : out_(out) {}

    ResultsText text() const override { return text_; }
    void setText(ResultsText text) override;

    std::size_t linesWritten() const { return lines_; }

private:
    void write(std::string_view added);

    std::FILE* out_;
    ResultsText text_;
    std::size_t lines_ = 0;
};

}  // namespace zorvik
