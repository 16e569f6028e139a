// SPDX-License-Identifier: MIT
// The lines a run's results are shown in.

#include "engine/runs/RunSteps.h"

#include <QStringList>

namespace vexalo {

// The window shows these in the user's language; the command line, which
// loads no translation, prints them as scripts expect.
QString logLine(const FileResult &result)
{
    // The name as people read it; the result keeps the bytes it came from.
    const QString name = result.name.display();
    switch (result.outcome) {
    case Outcome::Replaced:
        // The line still begins as every replaced file's does, for scripts.
        if (!result.notUndoable.isEmpty())
            return name + tr(":  replaced (cannot be undone: %1)").arg(result.notUndoable);
        return name + tr(":  replaced");
    case Outcome::NotFound:
        // Why a text cannot occur in the file, where that is not plain.
        if (!result.reason.isEmpty())
            return name + tr(":  not found (%1)").arg(result.reason);
        return name + tr(":  not found");
    case Outcome::Protected: return name + tr(":  protected file");
    case Outcome::Restored: return name + tr(":  restored");
    case Outcome::NotRestored: return name + tr(":  not restored");
    case Outcome::Matched: {
        // Spelled out rather than left to a plural form: the command line
        // loads no translation and must still say "1 match".
        QString line = name + (result.matches == 1 ? tr(":  1 match") : tr(":  %1 matches").arg(result.matches));
        if (result.binary)
            line += tr(" (binary content)");
        return line;
    }
    case Outcome::Failed: break;
    }
    return name + tr(":  failed: ") + result.reason;
}

QString buildLog(const QList<FileResult> &results)
{
    QStringList lines;
    lines.reserve(results.size());
    for (const FileResult &r : results)
        lines.append(logLine(r));
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace vexalo
