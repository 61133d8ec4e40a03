// The one conversion between the operator's texts in the window and the 8-bit texts of the
// core and the settings file: the system's 8-bit encoding, as the settings file has always been
// written. Board codes are bytes, not text, and go through Latin-1 instead (see WindowStatus).
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace app {

inline std::string CoreText(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

inline QString FieldText(std::string_view text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace app
