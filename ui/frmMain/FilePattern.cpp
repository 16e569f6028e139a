// SPDX-License-Identifier: MIT
#include "FilePattern.h"

namespace {

// Iterative glob with one backtrack point: linear for the usual patterns and
// never exponential, which matters when a folder holds 100,000 names.
bool globMatches(QStringView glob, QStringView name)
{
    qsizetype g = 0, n = 0, starG = -1, starN = 0;
    while (n < name.size()) {
        if (g < glob.size() && (glob[g] == QLatin1Char('?') || glob[g] == name[n])) {
            ++g;
            ++n;
        } else if (g < glob.size() && glob[g] == QLatin1Char('*')) {
            starG = g++;
            starN = n;
        } else if (starG >= 0) {
            g = starG + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (g < glob.size() && glob[g] == QLatin1Char('*'))
        ++g;
    return g == glob.size();
}

} // namespace

FilePattern::FilePattern(const QString &patterns)
{
    const QStringList pieces = patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        const QString pattern = piece.trimmed().toCaseFolded();
        if (pattern.isEmpty())
            continue;
        if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*")) {
            m_matchesAll = true;
            continue;
        }
        Part part;
        part.withoutDot = pattern.endsWith(QLatin1Char('.'));
        part.glob = part.withoutDot ? pattern.chopped(1) : pattern;
        m_parts << part;
    }
    // No pattern at all lists everything rather than an empty list that looks broken.
    if (m_parts.isEmpty())
        m_matchesAll = true;
}

bool FilePattern::matches(const QString &name) const
{
    if (m_matchesAll)
        return true;
    const QString folded = name.toCaseFolded();
    for (const Part &part : m_parts) {
        if (part.withoutDot && folded.contains(QLatin1Char('.')))
            continue;
        if (globMatches(part.glob, folded))
            return true;
    }
    return false;
}
