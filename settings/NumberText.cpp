// SPDX-License-Identifier: MIT
#include "NumberText.h"

#include <QLocale>

#include <charconv>
#include <cmath>

namespace vexalo {

QString formatSingle(float value)
{
    if (!std::isfinite(value))
        return {};
    if (value == 0)
        value = 0; // no "-0"
    // to_chars gives the shortest text that reads back to this very float, so
    // 0.1f is "0.1" and not the double's 0.100000001490116...
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (ec != std::errc())
        return {};
    return QString::fromLatin1(buffer, end - buffer);
}

std::optional<float> parseSingle(const QString &text)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const float value = c.toFloat(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace vexalo
