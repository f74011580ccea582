#include "buffered_text_box.hpp"

#include <utility>

namespace zorvik {

ResultsText BufferedTextBox::text() const {
    if (edited_) {
        text_ = ResultsText(readWidget());
        edited_ = false;
    }
    return text_;
}

void BufferedTextBox::setText(ResultsText text) {
    if (!edited_ && text.extends(text_)) {
        pending_ += text.suffixAfter(text_);
    } else {
        pending_.clear();
        writing_ = true;
        replaceWidget(text.view());
        writing_ = false;
        edited_ = false;
    }
    text_ = std::move(text);
}

void BufferedTextBox::flush() {
    if (pending_.empty()) {
        return;
    }
    writing_ = true;
    appendToWidget(pending_);
    writing_ = false;
    pending_.clear();
}

}  // namespace zorvik
