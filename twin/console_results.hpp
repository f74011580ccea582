#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

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

// The results box of a program without a window. Each line the logic appends
// is turned into output by the formatter, and what the program appends beside
// the lines joins it; all of it is written at the next flush. The program
// flushes at the end of every delivery slice and at its end, so a burst costs
// a few writes, not one per answer. What is written is gone: the box keeps no
// text, so a long run does not grow.
class ConsoleResults final : public TextBox {
public:
    // Writes all of the text to the output, or throws a Failure.
    using Writer = std::function<void(std::string_view text)>;
    // Appends the output for one listed line (without its line end) to `out`.
    using Formatter = std::function<void(std::string_view line, std::string& out)>;

    ConsoleResults(Writer write, Formatter format);

    ResultsText text() const override { return {}; }
    void setText(ResultsText text) override;

    // Output of the program's own, written with the lines at the next flush.
    void append(std::string_view output) { pending_.append(output); }
    // Writes what has been formatted since the last flush.
    void flush();
    // Lines the logic has listed so far, written or not.
    std::size_t linesListed() const noexcept { return lines_; }

private:
    Writer write_;
    Formatter format_;
    std::string pending_;
    std::size_t lines_ = 0;
};

}  // namespace zorvik
