#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace zorvik {

// The text of the results box, as a value that is cheap to grow.
//
// Each value is a version: a length into a buffer that versions share. Appending
// to the newest version of a buffer grows the buffer in place, so reading the
// box's text and setting it again with one line more costs the line, not the
// whole text. Appending to an older version copies its prefix into a buffer of
// its own, so no version ever sees another's changes. Because versions share
// storage, a box can tell "the text it holds plus something" from a new text.
class ResultsText {
public:
    ResultsText() = default;
    explicit ResultsText(std::string_view text);

    std::string_view view() const noexcept;
    std::size_t size() const noexcept { return length_; }
    bool empty() const noexcept { return length_ == 0; }

    ResultsText& operator+=(std::string_view tail);
    friend ResultsText operator+(ResultsText text, std::string_view tail) {
        text += tail;
        return text;
    }

    // True when this value is `older` with nothing or something appended,
    // known from shared storage without comparing characters.
    bool extends(const ResultsText& older) const noexcept;

    // What this value adds after `older`; only meaningful when extends(older).
    std::string_view suffixAfter(const ResultsText& older) const noexcept;

    friend bool operator==(const ResultsText& a, const ResultsText& b) noexcept {
        return a.view() == b.view();
    }

private:
    std::shared_ptr<std::string> buffer_;
    std::size_t length_ = 0;
};

}  // namespace zorvik
