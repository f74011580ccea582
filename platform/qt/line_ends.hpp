#pragma once

#include <string>
#include <string_view>

#include <QString>

namespace zorvik {

// The program's UTF-8 text as Qt's.
inline QString qtText(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// The results text ends its lines in CR LF; a Qt text widget keeps plain LF.
QString toWidgetText(std::string_view crlfText);
std::string fromWidgetText(const QString& widgetText);

}  // namespace zorvik
