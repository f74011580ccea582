#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zorvik {

// The records of CSV text as RFC 4180 writes them: fields split by commas and
// quoted where they hold a comma, a quote (doubled) or a line break; records
// end in CR LF or LF. The IEEE's files have all of these.
class CsvReader {
public:
    explicit CsvReader(std::string_view text) : text_(text) {}

    // The next record's fields; false once the text is used up.
    bool next(std::vector<std::string>& fields);

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace zorvik
