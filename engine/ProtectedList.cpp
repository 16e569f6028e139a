// SPDX-License-Identifier: MIT
#include "ProtectedList.h"

#include "FileOps.h"
#include "TextCodec.h"
#include "TextTools.h"

namespace vexalo {

QString defaultProtectedExtensions()
{
    return QStringLiteral(".exe .dll .ocx .xls .jpg .gif .bmp .mp3");
}

QString loadProtectedExtensions(const QString &folder)
{
    const QString path = joinPath(folder, QStringLiteral("exception.txt"));
    if (!isRegularFile(path))
        return defaultProtectedExtensions();
    const ReadResult read = readWholeFile(path);
    if (!read.status.ok())
        return defaultProtectedExtensions();

    // Only the first line counts, and a line ends at CR alone: a file with
    // LF line ends is one line as a whole.
    QByteArrayView bytes(read.data);
    const qsizetype cr = bytes.indexOf('\r');
    if (cr >= 0)
        bytes = bytes.first(cr);
    // File names are listed in UTF-8 here; reading the list the same way keeps
    // the two comparable.
    return decodeText(bytes, detectEncoding(bytes));
}

bool isProtected(const QString &name, const QString &protectedExtensions)
{
    const QString tail = name.right(4).toLower();
    return protectedExtensions.contains(tail, Qt::CaseSensitive);
}

} // namespace vexalo
