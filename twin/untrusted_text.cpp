#include "untrusted_text.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>

namespace zorvik {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// The code point at `at` and its length in bytes; a byte that starts no valid
// sequence (overlong, surrogate, beyond U+10FFFF, cut short) is U+FFFD of length 1.
std::pair<char32_t, std::size_t> decodeAt(std::string_view text, std::size_t at) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned lead = byteAt(0);
    if (lead < 0x80) {
        return {lead, 1};
    }
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || text.size() - at < length) {
        return {kReplacement, 1};
    }
    char32_t code = lead & (0x7fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byteAt(i) & 0xc0) != 0x80) {
            return {kReplacement, 1};
        }
        code = code << 6 | (byteAt(i) & 0x3fu);
    }
    constexpr std::array<char32_t, 5> kLeast = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
        return {kReplacement, 1};
    }
    return {code, length};
}

bool isControl(char32_t code) { return code < 0x20 || (code >= 0x7f && code <= 0x9f); }

// Marks that reorder the text around them on screen (bidirectional overrides,
// embeddings and isolates): a name could make a line read as something else.
bool isReordering(char32_t code) {
    return code == 0x061c || code == 0x200e || code == 0x200f || (code >= 0x202a && code <= 0x202e) ||
           (code >= 0x2066 && code <= 0x2069);
}

// Bytes that the plain run of a form may hold as they are.
bool isPlain(unsigned char byte, TextForm form) {
    return byte >= 0x20 && byte < 0x7f && !(form == TextForm::Json && (byte == '"' || byte == '\\'));
}

void appendEscape(std::string& out, char32_t control, TextForm form) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    // C1 controls and later marks are code points, not bytes: written so that no one takes them for one.
    out += form == TextForm::Json || control >= 0x80 ? "\\u" : "\\x";
    for (int shift = control >= 0x80 || form == TextForm::Json ? 12 : 4; shift >= 0; shift -= 4) {
        out += kHex[(control >> shift) & 0xf];
    }
}

// Half-open ranges of code points, sorted.
using Ranges = std::initializer_list<std::pair<char32_t, char32_t>>;
constexpr Ranges kZeroWidth = {{0x0300, 0x0370}, {0x0483, 0x048a}, {0x0591, 0x05be}, {0x0610, 0x061b},
                               {0x064b, 0x0660}, {0x1ab0, 0x1b00}, {0x1dc0, 0x1e00}, {0x200b, 0x2010},
                               {0x20d0, 0x2100}, {0xfe00, 0xfe10}, {0xfe20, 0xfe30}, {0xfeff, 0xff00}};
constexpr Ranges kWide = {{0x1100, 0x1160},   {0x2e80, 0x303f},   {0x3041, 0x4dc0},
                          {0x4e00, 0xa4d0},   {0xac00, 0xd7a4},   {0xf900, 0xfb00},   {0xfe30, 0xfe50},
                          {0xff00, 0xff61},   {0xffe0, 0xffe7},   {0x1f300, 0x1f650}, {0x1f900, 0x1fa00},
                          {0x20000, 0x2fffe}, {0x30000, 0x3fffe}};

bool within(char32_t code, Ranges ranges) {
    return std::any_of(ranges.begin(), ranges.end(), [&](const auto& r) { return code >= r.first && code < r.second; });
}

}  // namespace

void appendUntrusted(std::string& out, std::string_view text, TextForm form) {
    for (std::size_t at = 0; at < text.size();) {
        // Whole runs of plain ASCII at once: most text is nothing else.
        const auto special = std::find_if(text.begin() + static_cast<std::ptrdiff_t>(at), text.end(),
                                          [form](char c) { return !isPlain(static_cast<unsigned char>(c), form); });
        const auto end = static_cast<std::size_t>(special - text.begin());
        out.append(text.substr(at, end - at));
        if ((at = end) == text.size()) {
            break;
        }
        const auto [code, length] = decodeAt(text, at);
        if (form == TextForm::Json && (code == '"' || code == '\\')) {
            out += '\\';
            out += static_cast<char>(code);
        } else if ((isControl(code) && !(form == TextForm::CsvField && (code == '\r' || code == '\n'))) ||
                   isReordering(code)) {
            appendEscape(out, code, form);
        } else if (code == kReplacement && length == 1) {
            out += kReplacementUtf8;
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
}

std::string visibleText(std::string_view text) {
    std::string out;
    appendUntrusted(out, text, TextForm::Visible);
    return out;
}

std::size_t displayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto [code, length] = decodeAt(text, at);
        width += within(code, kZeroWidth) ? 0 : within(code, kWide) ? 2 : 1;
        at += length;
    }
    return width;
}

}  // namespace zorvik
