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

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>
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
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// By the name's bytes, for names that are not valid UTF-8: QFile would turn
// such a name into another one, and so would QDir when listing.
inline void writeRawFile(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes.constData(), bytes.size()) != bytes.size() || ::close(fd) != 0)
        qFatal("cannot write %s", path.toHex().constData());
}

inline QByteArray readRawFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray("<missing>");
    QByteArray bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    ::close(fd);
    return bytes;
}

// Every entry's name as its bytes, hidden ones included, sorted.
inline QByteArrayList rawEntries(const QByteArray &folder)
{
    QByteArrayList names;
    if (DIR *dir = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                names << name;
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Removes a folder and all in it by their bytes when it goes out of scope;
// QTemporaryDir cannot remove a name that is not UTF-8.
struct RawTreeRemover {
    QByteArray path;
    ~RawTreeRemover()
    {
        // Depth first, so each folder is empty when its turn comes.
        const auto removeOne = [](const char *name, const struct stat *, int, FTW *) {
            ::remove(name);
            return 0;
        };
        ::nftw(path.constData(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
    }
};

// Three names that a conversion through U+FFFD would make one: two that are
// not UTF-8 (Latin-1 e-acute and e-grave) and the replacement character
// itself, spelled in UTF-8. Each holds a text that tells it from the others.
inline const QByteArrayList &lookalikeNames()
{
    static const QByteArrayList names{"caf\xe9.txt", "caf\xe8.txt", "caf\xef\xbf\xbd.txt"};
    return names;
}

inline QByteArray lookalikeText(const QByteArray &name)
{
    return "alpha in " + name.toHex();
}

inline void writeLookalikes(const QByteArray &folder)
{
    for (const QByteArray &name : lookalikeNames())
        writeRawFile(folder + '/' + name, lookalikeText(name));
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
