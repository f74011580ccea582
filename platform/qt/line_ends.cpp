#include "line_ends.hpp"

#include "protocol.hpp"

namespace zorvik {

QString toWidgetText(std::string_view crlfText) {
    std::string plain;
    plain.reserve(crlfText.size());
    for (std::size_t at = 0; at < crlfText.size();) {
        if (crlfText.compare(at, protocol::kLineEnd.size(), protocol::kLineEnd) == 0) {
            plain += '\n';
            at += protocol::kLineEnd.size();
        } else if (crlfText[at] == '\r') {
            // The widget breaks the line at a lone CR too, but it would read one
            // followed by the LF of a converted CR LF as a single break.
            plain += '\n';
            ++at;
        } else {
            plain += crlfText[at++];
        }
    }
    return qtText(plain);
}

std::string fromWidgetText(const QString& widgetText) {
    const QByteArray utf8 = widgetText.toUtf8();
    std::string crlf;
    crlf.reserve(static_cast<std::size_t>(utf8.size()));
    for (const char c : utf8) {
        if (c == '\n') {
            crlf += protocol::kLineEnd;
        } else {
            crlf += c;
        }
    }
    return crlf;
}

}  // namespace zorvik
