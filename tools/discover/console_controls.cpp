#include "console_controls.hpp"

#include "failure.hpp"
#include "protocol.hpp"
#include "standard_streams.hpp"

namespace zorvik {

void ConsoleResults::setText(ResultsText text) {
    // text() is always empty, so what the logic appends to it is all that is new.
    std::string out;
    std::string_view rest = text.view();
    const auto lineEnd = protocol::kLineEnd;
    for (auto end = rest.find(lineEnd); end != std::string_view::npos; end = rest.find(lineEnd)) {
        out.append(rest.substr(0, end)).push_back('\n');
        ++lines_;
        rest.remove_prefix(end + lineEnd.size());
    }
    out.append(rest);
    if (const int error = writeAll(fd_, out)) throw Failure::fromErrno(error);
}

}  // namespace zorvik
