#pragma once

#include <string>
#include <string_view>

#include <QString>

namespace zorvik {

// The results text ends its lines in CR LF; a Qt text widget keeps plain LF.
QString toWidgetText(std::string_view crlfText);
std::string fromWidgetText(const QString& widgetText);

}  // namespace zorvik
