#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zorvik {

// Text from the network or from system files (host names, makers, interface
// names) as each output may show it. Every form is valid UTF-8: a byte that is
// not part of a valid sequence becomes U+FFFD.
enum class TextForm {
    Visible,   // controls (C0, DEL, C1) and bidirectional marks as escapes: "\x1b", "\u009b", "\u202e"
    CsvField,  // the same, but CR and LF kept, for a quoted field to hold
    Json,      // the inside of a JSON string: quote, backslash and controls escaped
};

void appendUntrusted(std::string& out, std::string_view text, TextForm form);

// The text in TextForm::Visible, for one line of a message or a column.
std::string visibleText(std::string_view text);

// Columns a terminal gives valid UTF-8 text: one per code point, none for
// combining marks and zero-width ones, two for East Asian wide ones.
std::size_t displayWidth(std::string_view text);

}  // namespace zorvik
