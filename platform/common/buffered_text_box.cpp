#include "buffered_text_box.hpp"

#include <algorithm>
#include <utility>

namespace zorvik {
namespace {

std::size_t lineEnds(std::string_view text) { return static_cast<std::size_t>(std::ranges::count(text, '\n')); }

// The length of the first `lines` lines of `text`, which has at least as many.
std::size_t lengthOfLines(std::string_view text, std::size_t lines) {
    std::size_t length = 0;
    for (; lines > 0; --lines) {
        length = text.find('\n', length) + 1;
    }
    return length;
}

}  // namespace

ResultsText BufferedTextBox::text() const {
    if (typedByUser_) {
        text_ = ResultsText(readWidget());
        shown_ = text_;
        shownLines_ = lineEnds(shown_.view());
        typedByUser_ = false;
    }
    return text_;
}

void BufferedTextBox::setText(ResultsText text) {
    if (typedByUser_ || !text.extends(shown_)) {
        shownLines_ = lineEnds(text.view());
        text = withinLimit(std::move(text), shownLines_);
        writing_ = true;
        replaceWidget(text.view());
        writing_ = false;
        shown_ = text;
    }
    typedByUser_ = false;
    text_ = std::move(text);
}

void BufferedTextBox::flush() {
    if (typedByUser_) {
        static_cast<void>(text());  // what the user typed counts towards the limit, not what the box last wrote
    }
    const ResultsText all = text_;  // keeps the tail's storage while text_ changes
    std::string_view tail = all.suffixAfter(shown_);
    std::size_t lines = shownLines_ + lineEnds(tail);
    const bool afterCr = shown_.view().ends_with('\r');
    writing_ = true;
    if (lines > maxLines_) {
        text_ = withinLimit(all, lines);
        const std::size_t dropped = all.size() - text_.size();
        if (dropped <= shown_.size()) {
            removeFromWidget(shown_.view().substr(0, dropped));
        } else {
            replaceWidget(text_.view());
            tail = {};
        }
    }
    shown_ = text_;
    shownLines_ = lines;
    if (!tail.empty()) {
        appendToWidget(tail, afterCr);
    }
    writing_ = false;
}

ResultsText BufferedTextBox::withinLimit(ResultsText text, std::size_t& lines) const {
    if (lines <= maxLines_) {
        return text;
    }
    const std::size_t dropped = lines - keptLines();
    lines = keptLines();
    return ResultsText(text.view().substr(lengthOfLines(text.view(), dropped)));
}

}  // namespace zorvik
