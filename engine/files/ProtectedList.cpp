// SPDX-License-Identifier: MIT
#include "engine/files/ProtectedList.h"

#include "engine/files/FileNames.h"

#include "engine/files/FileOps.h"
#include "engine/text/TextCodec.h"
#include "engine/text/TextTools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace vexalo {

namespace {

QString cannotRead(const QString &file, const QString &reason)
{
    return QCoreApplication::translate("ProtectedList", "the protected-extension list %1 cannot be read: %2")
        .arg(displayName(file), reason);
}

} // namespace

QString defaultProtectedExtensions()
{
    return QStringLiteral(".exe .dll .ocx .xls .jpg .gif .bmp .mp3");
}

QStringList protectedListFiles(const QString &programFolder)
{
    const QString name = QStringLiteral("exception.txt");
    QStringList files{joinPath(programFolder, name)};
    // Qt reads $XDG_CONFIG_HOME (an absolute one) and falls back on
    // ~/.config, as the base directory rules say.
    const QString userConfig = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!userConfig.isEmpty())
        files << joinPath(joinPath(userConfig, QStringLiteral("Vexalo")), name);
    files << QStringLiteral("/etc/xdg/Vexalo/") + name;
    return files;
}

ProtectedList loadProtectedListFrom(const QStringList &files)
{
    for (const QString &file : files) {
        // The list's places come as text (the program folder, the
        // environment's configuration folder); each is converted once.
        const FilePath path = FilePath::fromString(file);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            const int err = errno;
            // Only a name that is certainly not there passes on to the next
            // place; one that cannot even be looked at (a folder this user
            // may not search) may hold the user's list.
            if (err == ENOENT || err == ENOTDIR)
                continue;
            return {defaultProtectedExtensions(), file, cannotRead(file, IoStatus::fromErrno(err).error)};
        }
        if (!S_ISREG(info.st_mode))
            continue;

        const ReadResult read = readWholeFile(path);
        if (!read.status.ok())
            return {defaultProtectedExtensions(), file, cannotRead(file, read.status.error)};

        // Only the first line counts, and a line ends at CR alone: a file with
        // LF line ends is one line as a whole.
        QByteArrayView bytes(read.data);
        const qsizetype cr = bytes.indexOf('\r');
        if (cr >= 0)
            bytes = bytes.first(cr);
        // File names are listed in UTF-8 here; reading the list the same way
        // keeps the two comparable.
        return {decodeText(bytes, detectEncoding(bytes)), file, {}};
    }
    return {defaultProtectedExtensions(), {}, {}};
}

ProtectedList loadProtectedList(const QString &programFolder)
{
    return loadProtectedListFrom(protectedListFiles(programFolder));
}

bool isProtected(const QString &name, const QString &protectedExtensions)
{
    // Both sides without regard to case: a list written in capitals (.JPG)
    // is meant to protect photo.JPG, and matching nothing would expose
    // exactly the files it is there for. Lower-casing the tail first keeps
    // every match the exact comparison made.
    const QString tail = name.right(4).toLower();
    return protectedExtensions.contains(tail, Qt::CaseInsensitive);
}

bool isProtected(const FilePath &name, const QString &protectedExtensions)
{
    // A byte below 0x80 is a character of its own in every name, so four
    // such bytes at the end are its last four characters: the usual name is
    // not decoded whole for them.
    const QByteArray &bytes = name.bytes();
    const QByteArrayView last = QByteArrayView(bytes).last(std::min<qsizetype>(4, bytes.size()));
    if (std::all_of(last.begin(), last.end(), [](char c) { return uchar(c) < 0x80; }))
        return isProtected(QString::fromLatin1(last), protectedExtensions);
    return isProtected(name.toString(), protectedExtensions);
}

} // namespace vexalo
