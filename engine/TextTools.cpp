// SPDX-License-Identifier: MIT
#include "TextTools.h"

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
