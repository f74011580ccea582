#include "record_format.hpp"

#include <algorithm>
#include <cctype>

#include "untrusted_text.hpp"

namespace zorvik {
namespace {

// The JSON string literal of any text, quotes included.
void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    appendUntrusted(out, text, TextForm::Json);
    out += '"';
}

// The CSV field of any text: quoted when it holds a comma, a semicolon (the
// separator where a comma is the decimal point), a quote, CR or LF. Text that
// a spreadsheet would take for a formula gets an apostrophe before it, and quotes.
void appendCsvField(std::string& out, std::string_view text, bool number) {
    const bool formula =
        !number && !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    const std::size_t start = out.size();
    if (formula) out += '\'';
    appendUntrusted(out, text, TextForm::CsvField);
    if (!formula && out.find_first_of(",;\"\r\n", start) == std::string::npos) {
        return;
    }
    const std::string field = out.substr(start);
    out.resize(start);
    out += '"';
    for (const char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

void appendRecord(std::string& out, OutputFormat format, std::span<const Field> fields, std::string_view newline) {
    switch (format) {
    case OutputFormat::Json:
        for (const auto& field : fields) {
            out += &field == fields.data() ? '{' : ',';
            appendJsonString(out, field.name);
            out += ':';
            if (field.number) {
                out += field.value;
            } else {
                appendJsonString(out, field.value);
            }
        }
        out += '}';
        out += newline;
        return;
    case OutputFormat::Csv:
        for (const auto& field : fields) {
            if (&field != fields.data()) out += ',';
            appendCsvField(out, field.value, field.number);
        }
        out += kCsvLineEnd;
        return;
    case OutputFormat::Text:
        for (const auto& field : fields) {
            if (&field != fields.data()) out += ' ';
            appendUntrusted(out, field.value, TextForm::Visible);
        }
        out += newline;
        return;
    }
}

std::string csvHeader(std::span<const std::string_view> names) {
    std::string header;
    for (const auto name : names) {
        if (!header.empty()) header += ',';
        header += name;
    }
    return header + std::string(kCsvLineEnd);
}

std::string alignedTable(std::span<const std::string_view> names, const std::vector<std::vector<std::string>>& rows,
                         std::string_view newline) {
    // Each cell as shown, with the columns it takes on a terminal.
    using Cells = std::vector<std::pair<std::string, std::size_t>>;
    std::vector<Cells> lines(1);
    for (const auto name : names) {
        std::string upper(name);
        for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        lines[0].emplace_back(std::move(upper), name.size());
    }
    for (const auto& row : rows) {
        auto& cells = lines.emplace_back();
        for (const auto& cell : row) {
            std::string shown = visibleText(cell);
            const std::size_t width = displayWidth(shown);
            cells.emplace_back(std::move(shown), width);
        }
    }
    std::vector<std::size_t> widths(names.size());
    for (const auto& cells : lines) {
        for (std::size_t i = 0; i < cells.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], cells[i].second);
    }
    std::string out;
    for (const auto& cells : lines) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            out += cells[i].first;
            if (i + 1 < cells.size()) out.append(widths[i] + 2 - cells[i].second, ' ');
        }
        out += newline;
    }
    return out;
}

std::string utcTimestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{floor<seconds>(time - day)};
    std::string text;
    // No printf: the twin calls nothing that a fortified build checks at run time.
    const auto append = [&](long long value, std::size_t digits, char after) {
        const std::string number = std::to_string(value);
        text.append(digits > number.size() ? digits - number.size() : 0, '0').append(number) += after;
    };
    append(static_cast<int>(date.year()), 4, '-');
    append(static_cast<unsigned>(date.month()), 2, '-');
    append(static_cast<unsigned>(date.day()), 2, 'T');
    append(clock.hours().count(), 2, ':');
    append(clock.minutes().count(), 2, ':');
    append(clock.seconds().count(), 2, 'Z');
    return text;
}

}  // namespace zorvik
