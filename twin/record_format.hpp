#pragma once

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "twin_options.hpp"

namespace zorvik {

// One named value of a record: a row of CSV, an object of JSON Lines, a line of text.
struct Field {
    std::string_view name;
    std::string value;
    bool number = false;  // bare in JSON, quoted otherwise
};

// RFC 4180 ends every CSV line with CR LF, whatever the platform.
inline constexpr std::string_view kCsvLineEnd = "\r\n";

// Appends one record: a JSON object, a CSV row, or the values in text
// separated by spaces; each line ended by `newline`, CSV's by CR LF. Every
// value is taken for untrusted text (untrusted_text.hpp), and a CSV cell that
// a spreadsheet could take for a formula is quoted with an apostrophe first.
void appendRecord(std::string& out, OutputFormat format, std::span<const Field> fields, std::string_view newline);

// The CSV header row of records with fields of these names.
std::string csvHeader(std::span<const std::string_view> names);

// Text in columns: the names in capitals, then each row, each column as wide
// on a terminal as its widest cell and two spaces apart; the last column is
// not padded. Cells are untrusted text, shown as visibleText does.
std::string alignedTable(std::span<const std::string_view> names, const std::vector<std::vector<std::string>>& rows,
                         std::string_view newline);

// "2026-12-07T16:40:01Z": the time in UTC, to the second.
std::string utcTimestamp(std::chrono::system_clock::time_point time);

}  // namespace zorvik
