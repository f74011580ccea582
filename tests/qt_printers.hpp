#pragma once

#include <ostream>

#include <QString>

// Lets GoogleTest show Qt strings as text in failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE
