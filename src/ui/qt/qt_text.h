#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tavren::ui {

// The dialog rules speak UTF-8; Qt's widgets UTF-16.
inline QString Q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

inline std::string U8(const QString& text) {
    return text.toStdString();
}

}  // namespace tavren::ui
