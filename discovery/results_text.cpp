#include "results_text.hpp"

namespace zorvik {

ResultsText::ResultsText(std::string_view text)
    : buffer_(std::make_shared<std::string>(text)), length_(text.size()) {}

std::string_view ResultsText::view() const noexcept {
    return buffer_ ? std::string_view(buffer_->data(), length_) : std::string_view();
}

ResultsText& ResultsText::operator+=(std::string_view tail) {
    if (tail.empty()) {
        return *this;
    }
    const bool newest = buffer_ && buffer_->size() == length_;
    if (!newest) {
        // Another version has grown this buffer past us (or there is none yet):
        // take a buffer of our own rather than overwrite what it appended.
        auto own = std::make_shared<std::string>();
        own->reserve(length_ + tail.size());
        own->append(view());
        buffer_ = std::move(own);
    }
    buffer_->append(tail);
    length_ += tail.size();
    return *this;
}

bool ResultsText::extends(const ResultsText& older) const noexcept {
    if (older.empty()) {
        return true;
    }
    return buffer_ == older.buffer_ && length_ >= older.length_;
}

std::string_view ResultsText::suffixAfter(const ResultsText& older) const noexcept {
    return view().substr(older.length_ <= length_ ? older.length_ : length_);
}

}  // namespace zorvik
