// SPDX-License-Identifier: MIT
#include "engine/text/TextTools.h"

#include <algorithm>
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

void LineBreakExaminer::feedUnits(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype n = bytes.size();
    auto unit = [&](unsigned first, unsigned second) {
        const char16_t u = char16_t(m_bigEndian ? (first << 8) | second : first | (second << 8));
        if (u == u'\n') {
            if (!m_unitEndsInCr)
                m_unitLf = true;
            else
                m_unitCrLf = true;
        }
        m_unitEndsInCr = u == u'\r';
    };
    qsizetype i = 0;
    if (m_pendingByte >= 0 && n > 0) {
        unit(unsigned(m_pendingByte), p[0]);
        m_pendingByte = -1;
        i = 1;
    }
    for (; i + 2 <= n && !m_unitLf; i += 2)
        unit(p[i], p[i + 1]);
    if (i < n && !m_unitLf)
        m_pendingByte = p[i];
}

LineBreaks LineBreakExaminer::style(FileEncoding encoding) const
{
    if (isUtf16(encoding))
        return m_units && m_unitCrLf && !m_unitLf ? LineBreaks::CrLf : LineBreaks::Lf;
    return m_crLf && !m_lf ? LineBreaks::CrLf : LineBreaks::Lf;
}

void LineBreakExaminer::feed(QByteArrayView bytes)
{
    // The first two bytes tell whether the units are followed too.
    if (m_head.size() < 2) {
        const qsizetype take = std::min<qsizetype>(2 - m_head.size(), bytes.size());
        m_head += bytes.first(take);
        if (m_head.size() == 2) {
            m_units = m_head == "\xFF\xFE" || m_head == "\xFE\xFF";
            m_bigEndian = m_head == "\xFE\xFF";
            if (m_units) {
                feedUnits(m_head);
                feedUnits(bytes.sliced(take));
            }
        }
    } else if (m_units && !m_unitLf) {
        feedUnits(bytes);
    }
    if (m_lf || bytes.isEmpty())
        return;
    const char *const begin = bytes.data();
    const char *const end = begin + bytes.size();
    for (const char *at = begin; at < end;) {
        const auto *lf = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)));
        if (!lf)
            break;
        if (lf == begin ? !m_endsInCr : lf[-1] != '\r') {
            m_lf = true;
            return;
        }
        m_crLf = true;
        at = lf + 1;
    }
    m_endsInCr = end[-1] == '\r';
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
