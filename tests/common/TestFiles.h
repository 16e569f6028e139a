// SPDX-License-Identifier: MIT
#pragma once

// Small file helpers shared by the tests that work on real folders.

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

namespace testfiles {

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// "<missing>" rather than empty, so a vanished file never passes for an empty one.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Every entry, hidden ones included: a leftover temporary must show up here.
inline QStringList allEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Every entry below folder with its type, mode, size, modification and change
// times to the nanosecond and a hash of its content: two equal listings mean
// nothing in the folder was written, renamed, added or removed.
inline QStringList fullListing(const QString &folder)
{
    QStringList lines;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st {};
        ::lstat(QFile::encodeName(path).constData(), &st);
        QByteArray hash;
        if (S_ISREG(st.st_mode)) {
            QFile f(path);
            hash = f.open(QIODevice::ReadOnly)
                ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()
                : QByteArray("<unreadable>");
        }
        lines.append(QStringLiteral("%1 %2 %3 %4.%5 %6.%7 %8")
                         .arg(path.mid(folder.size()))
                         .arg(st.st_mode, 0, 8)
                         .arg(st.st_size)
                         .arg(st.st_mtim.tv_sec)
                         .arg(st.st_mtim.tv_nsec)
                         .arg(st.st_ctim.tv_sec)
                         .arg(st.st_ctim.tv_nsec)
                         .arg(QString::fromLatin1(hash)));
    }
    lines.sort();
    return lines;
}

} // namespace testfiles
