// SPDX-License-Identifier: MIT
#include "QtLinkOpener.h"

#include <QDesktopServices>
#include <QUrl>

LinkOpenResult QtLinkOpener::open(const QString &link, QWidget *, const QString &)
{
    // The desktop's opener has no owner window or start folder; only the link counts.
    // Tolerant parsing keeps the link as built (blanks and commas in a mail body).
    const QUrl url(link, QUrl::TolerantMode);
    if (!url.isValid() || !QDesktopServices::openUrl(url))
        return {false, 1};
    return {};
}
