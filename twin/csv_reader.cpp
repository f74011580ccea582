#include "csv_reader.hpp"

#include <utility>

namespace zorvik {

bool CsvReader::next(std::vector<std::string>& fields) {
    fields.clear();
    if (at_ >= text_.size()) {
        return false;
    }
    std::string field;
    bool quoted = false;
    while (at_ < text_.size()) {
        // Whole runs of plain characters at once: the files are megabytes long.
        const std::size_t special = text_.find_first_of(quoted ? "\"" : "\",\r\n", at_);
        const std::size_t end = special == std::string_view::npos ? text_.size() : special;
        field.append(text_.substr(at_, end - at_));
        if ((at_ = end) == text_.size()) {
            break;
        }
        const char c = text_[at_++];
        const bool more = at_ < text_.size();
        if (quoted) {
            quoted = more && text_[at_] == '"';  // a doubled quote stands for one
            if (quoted) {
                field += '"';
                ++at_;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(std::exchange(field, {}));
        } else if (c == '\n') {
            break;
        } else if (c == '\r' && more && text_[at_] != '\n') {
            field += c;  // a line ends in CR LF or LF; a lone CR is text
        }
    }
    fields.push_back(std::move(field));
    return true;
}

}  // namespace zorvik
