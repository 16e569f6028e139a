// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

namespace vexalo {

// Removes trailing line breaks as the platform types them: whole CR LF pairs,
// and on LF platforms single LF characters too. A lone CR stays.
QString trimTrailingBreaks(QString text);

// The five-entry folder history, newest first: everything moves back one
// place, the oldest drops off, the new folder goes first. No de-duplication.
void recordFolder(QStringList &history, const QString &folder);

// Joins a folder and a plain name without doubling the separator.
QString joinPath(const QString &folder, const QString &name);

} // namespace vexalo
