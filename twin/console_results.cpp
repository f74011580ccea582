#include "console_results.hpp"

#include "protocol.hpp"

namespace zorvik {

ConsoleResults::ConsoleResults(Writer write, Formatter format)
    : write_(std::move(write)), format_(std::move(format)) {}

void ConsoleResults::setText(ResultsText text) {
    // text() is always empty, so what the logic appends to it is all that is new.
    std::string_view rest = text.view();
    const auto lineEnd = protocol::kLineEnd;
    for (auto end = rest.find(lineEnd); end != std::string_view::npos; end = rest.find(lineEnd)) {
        format_(rest.substr(0, end), pending_);
        ++lines_;
        rest.remove_prefix(end + lineEnd.size());
    }
    // The logic only ever appends whole lines; a part line is kept as it is.
    pending_.append(rest);
}

void ConsoleResults::flush() {
    if (pending_.empty()) {
        return;
    }
    // Cleared first: after a failed write nothing is written twice.
    const std::string text = std::move(pending_);
    pending_.clear();
    write_(text);
}

}  // namespace zorvik
