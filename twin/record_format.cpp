#include "record_format.hpp"

#include <algorithm>
#include <cctype>

namespace zorvik {
namespace {

// The JSON string literal of UTF-8 text, quotes included.
void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[(c >> 4) & 0xf];
            out += kHex[c & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
}

// The CSV field of any text: quoted when it holds a comma, a quote, CR or LF.
void appendCsvField(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
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
            appendCsvField(out, field.value);
        }
        out += kCsvLineEnd;
        return;
    case OutputFormat::Text:
        for (const auto& field : fields) {
            if (&field != fields.data()) out += ' ';
            out += field.value;
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
    std::vector<std::string> header;
    std::vector<std::size_t> widths;
    for (const auto name : names) {
        header.emplace_back(name);
        for (auto& c : header.back()) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        widths.push_back(name.size());
    }
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::string out;
    const auto appendLine = [&](const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            out += cells[i];
            if (i + 1 < cells.size()) out.append(widths[i] + 2 - cells[i].size(), ' ');
        }
        out += newline;
    };
    appendLine(header);
    for (const auto& row : rows) appendLine(row);
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
