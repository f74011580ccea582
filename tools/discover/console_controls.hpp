#pragma once

#include <cstdio>
#include <string>

#include "controls.hpp"

namespace zorvik {

// The button of a program without a window: it only remembers its state.
class ConsoleButton final : public CommandButton {
public:
    void setCaption(std::string_view caption) override { caption_ = caption; }
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    void Refresh() override {}

private:
    std::string caption_;
    bool enabled_ = true;
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
