#include "console_controls.hpp"

#include <cerrno>

#include "failure.hpp"
#include "protocol.hpp"

namespace zorvik {

void ConsoleResults::setText(ResultsText text) {
    // Only what extends the text already written can be shown; a new text
    // (the empty one of each Discover) starts afresh.
    if (text.extends(text_)) {
        write(text.suffixAfter(text_));
    } else {
        write(text.view());
    }
    text_ = std::move(text);
}

void ConsoleResults::write(std::string_view added) {
    const auto lineEnd = protocol::kLineEnd;
    while (!added.empty()) {
        const auto end = added.find(lineEnd);
        const auto line = added.substr(0, end);
        if (std::fwrite(line.data(), 1, line.size(), out_) != line.size()) {
            throw Failure::fromErrno(errno);
        }
        if (end == std::string_view::npos) {
            break;
        }
        std::fputc('\n', out_);
        ++lines_;
        added.remove_prefix(end + lineEnd.size());
    }
    if (std::fflush(out_) != 0) {
        throw Failure::fromErrno(errno);
    }
}

}  // namespace zorvik
