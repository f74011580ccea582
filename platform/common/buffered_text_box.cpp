#include "buffered_text_box.hpp"

#include <utility>

namespace zorvik {

ResultsText BufferedTextBox::text() const {
    if (typedByUser_) {
        text_ = ResultsText(readWidget());
        shown_ = text_;
        typedByUser_ = false;
    }
    return text_;
}

void BufferedTextBox::setText(ResultsText text) {
    if (typedByUser_ || !text.extends(shown_)) {
        writing_ = true;
        replaceWidget(text.view());
        writing_ = false;
        shown_ = text;
    }
    typedByUser_ = false;
    text_ = std::move(text);
}

void BufferedTextBox::flush() {
    const std::string_view tail = text_.suffixAfter(shown_);
    const bool afterCr = shown_.view().ends_with('\r');
    shown_ = text_;
    if (!tail.empty()) {
        writing_ = true;
        appendToWidget(tail, afterCr);
        writing_ = false;
    }
}

}  // namespace zorvik
