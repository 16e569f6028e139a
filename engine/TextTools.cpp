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

LineBreaks lineBreaksOf(QByteArrayView bytes)
{
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

void LineBreakExaminer::feed(QByteArrayView bytes)
{
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
