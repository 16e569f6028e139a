// SPDX-License-Identifier: MIT
#include "QtFileSystemPlaces.h"

#include "engine/files/FileNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <unistd.h>
#include <vector>

namespace {

// Kernel and memory file systems hold no user files; listing them as drives
// would bury the real volumes under /proc, /sys and /run entries.
bool isPseudoFileSystem(const QByteArray &type)
{
    static const QSet<QByteArray> pseudo = {
        "proc",   "sysfs",      "devpts",  "devtmpfs", "tmpfs",     "ramfs",    "cgroup",  "cgroup2",     "securityfs",
        "pstore", "debugfs",    "tracefs", "mqueue",   "hugetlbfs", "configfs", "fusectl", "binfmt_misc", "autofs",
        "bpf",    "rpc_pipefs", "nsfs",    "efivarfs", "squashfs",  "overlay",  "nfsd",    "selinuxfs"};
    return pseudo.contains(type);
}

} // namespace

QList<DriveInfo> QtFileSystemPlaces::drives()
{
    QList<DriveInfo> result{{QStringLiteral("/"), QStringLiteral("/")}};
    QStringList others;
    QHash<QString, QString> names;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (root == QLatin1String("/") || !volume.isValid() || isPseudoFileSystem(volume.fileSystemType()))
            continue;
        // Containers bind-mount single files (resolv.conf, hosts); only folders are drives.
        if (!QFileInfo(root).isDir() || others.contains(root))
            continue;
        others << root;
        names.insert(root, volume.name());
    }
    others.sort();
    for (const QString &root : std::as_const(others)) {
        const QString name = names.value(root);
        result << DriveInfo{root, name.isEmpty() || name == root ? root : QStringLiteral("%1 [%2]").arg(root, name)};
    }
    return result;
}

QString QtFileSystemPlaces::driveOf(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    QString best = QStringLiteral("/");
    for (const DriveInfo &drive : drives()) {
        const QString &root = drive.rootPath;
        const bool inside =
            clean == root || clean.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
        if (inside && root.size() > best.size())
            best = root;
    }
    return best;
}

bool QtFileSystemPlaces::isAvailable(const QString &rootPath)
{
    // A volume unmounted since the drive list was filled leaves its mount
    // point behind as an empty folder of the volume around it: that is not
    // the drive the user chose.
    if (QStorageInfo(rootPath).rootPath() != QDir::cleanPath(rootPath))
        return false;
    // "Available" means the root can be listed, exactly what the folder list needs next.
    DIR *dir = ::opendir(vexalo::encodeFileName(rootPath).constData());
    if (!dir)
        return false;
    ::closedir(dir);
    return true;
}

QString QtFileSystemPlaces::workingFolder()
{
    // getcwd rather than QDir::currentPath(), which loses bytes that are not UTF-8.
    std::vector<char> buffer(PATH_MAX);
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return QDir::currentPath();
        buffer.resize(buffer.size() * 2);
    }
    return vexalo::decodeFileName(buffer.data());
}

bool QtFileSystemPlaces::setWorkingFolder(const QString &folder, QString *error)
{
    if (::chdir(vexalo::encodeFileName(folder).constData()) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

QString QtFileSystemPlaces::programFolder()
{
    return vexalo::runningProgramFolder();
}
