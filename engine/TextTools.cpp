// SPDX-License-Identifier: MIT
#include "TextTools.h"

#include <cstring>

namespace vexalo {

QString trimTrailingBreaks(QString text)
{
    // Line breaks typed here are LF; text pasted from elsewhere may carry
    // CR LF. A lone CR is not a line break on this platform and stays.
    for (;;) {
        if (text.endsWith(QLatin1String("\r\n")))
            text.chop(2);
        else if (text.endsWith(QLatin1Char('\n')))
            text.chop(1);
        else
            return text;
    }
}

namespace {

// The same rule on 2-byte units: an LF unit is 0A 00 (little-endian) or
// 00 0A (big-endian) at an even offset, a CR unit the same with 0D.
LineBreaks utf16LineBreaksOf(QByteArrayView bytes, bool bigEndian)
{
    const char *const begin = bytes.data();
    const qsizetype n = bytes.size() & ~qsizetype(1);
    const int low = bigEndian ? 1 : 0; // where a unit's low byte is
    auto isUnit = [&](qsizetype at, char c) { return begin[at + low] == c && begin[at + 1 - low] == 0; };
    bool sawBreak = false;
    for (qsizetype from = 0; from < n;) {
        const auto *hit = static_cast<const char *>(std::memchr(begin + from, '\n', size_t(n - from)));
        if (!hit)
            break;
        const qsizetype unit = (hit - begin) - low;
        from = hit - begin + 1;
        if (unit < 0 || (unit & 1) || !isUnit(unit, '\n'))
            continue; // a byte of some other character
        if (unit < 2 || !isUnit(unit - 2, '\r'))
            return LineBreaks::Lf;
        sawBreak = true;
    }
    return sawBreak ? LineBreaks::CrLf : LineBreaks::Lf;
}

} // namespace

LineBreaks lineBreaksOf(QByteArrayView bytes, FileEncoding encoding)
{
    if (isUtf16(encoding))
        return utf16LineBreaksOf(bytes, encoding == FileEncoding::Utf16BE);
    // Most files have LF lines and are told by their first one; a CR LF file
    // is read to its end, one memchr a line, since a single LF anywhere
    // makes it mixed.
    const char *const begin = bytes.data();
    const char *const end = begin + bytes.size();
    bool sawBreak = false;
    for (const char *at = begin; at < end;) {
        const auto *lf = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)));
        if (!lf)
            break;
        if (lf == begin || lf[-1] != '\r')
            return LineBreaks::Lf;
        sawBreak = true;
        at = lf + 1;
    }
    return sawBreak ? LineBreaks::CrLf : LineBreaks::Lf;
}

QString withLineBreaks(const QString &text, LineBreaks style)
{
    QString lf = text;
    lf.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (style == LineBreaks::CrLf)
        lf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return lf;
}

void recordFolder(QStringList &history, const QString &folder)
{
    constexpr int size = 5;
    history.prepend(folder);
    while (history.size() < size)
        history.append(QString());
    history.resize(size);
}

QString joinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

} // namespace vexalo
