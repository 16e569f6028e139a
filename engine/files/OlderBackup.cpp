// SPDX-License-Identifier: MIT
#include "engine/files/OlderBackup.h"

#include "engine/files/FileNames.h"
#include "engine/files/FileOps.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexalo {

namespace {

// Hidden beside the backup, under the writer's prefix: a run killed before
// it is removed leaves a file that no run ever takes for the user's own.
QByteArray asideName(const QByteArray &backup)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(8, Qt::Uninitialized);
    for (char &c : suffix)
        c = alphabet[QRandomGenerator::global()->bounded(int(sizeof alphabet - 1))];
    const qsizetype slash = backup.lastIndexOf('/');
    return backup.left(slash + 1) + encodeFileName(temporaryPrefix()) + suffix;
}

} // namespace

OlderBackup::OlderBackup(OlderBackup &&other) noexcept
    : m_backup(std::move(other.m_backup))
    , m_aside(std::exchange(other.m_aside, {}))
    , m_moved(other.m_moved)
{
}

OlderBackup &OlderBackup::operator=(OlderBackup &&other) noexcept
{
    if (this != &other) {
        putBack();
        m_backup = std::move(other.m_backup);
        m_aside = std::exchange(other.m_aside, {});
        m_moved = other.m_moved;
    }
    return *this;
}

OlderBackup::~OlderBackup()
{
    putBack();
}

IoStatus OlderBackup::setAside(const FilePath &backupPath, OlderBackup *older)
{
    *older = OlderBackup();
    const QByteArray &backup = backupPath.bytes();
    struct stat named {};
    if (::lstat(backup.constData(), &named) != 0)
        return errno == ENOENT ? IoStatus() : IoStatus::fromErrno(errno);
    // A folder or a special file there makes the backup fail on its own,
    // and is never moved.
    if (!S_ISREG(named.st_mode) && !S_ISLNK(named.st_mode))
        return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray aside = asideName(backup);
        // A second name for the same file (a link itself, never what it
        // leads to): the backup's name keeps the older backup until the new
        // one replaces it.
        if (::linkat(AT_FDCWD, backup.constData(), AT_FDCWD, aside.constData(), 0) == 0) {
            older->m_backup = backup;
            older->m_aside = aside;
            return {};
        }
        if (errno == EEXIST)
            continue;
        if (errno == ENOENT)
            return {}; // gone meanwhile: nothing older to keep
        // A file system without hard links (or a file at its limit of them):
        // the older backup moves aside, and the new one takes its name.
        if (::renameat2(AT_FDCWD, backup.constData(), AT_FDCWD, aside.constData(), RENAME_NOREPLACE) == 0
            || (errno == EINVAL && ::rename(backup.constData(), aside.constData()) == 0)) {
            older->m_backup = backup;
            older->m_aside = aside;
            older->m_moved = true;
            return {};
        }
        if (errno == EEXIST)
            continue;
        return IoStatus::fromErrno(errno);
    }
    return IoStatus::fromErrno(EEXIST);
}

void OlderBackup::keep()
{
    if (m_aside.isEmpty())
        return;
    ::unlink(m_aside.constData());
    m_aside.clear();
}

void OlderBackup::putBack()
{
    if (m_aside.isEmpty())
        return;
    // Still under the backup's name (the new backup was never made): the
    // second name goes. rename() would do nothing between two names of one
    // file, and leave the second behind.
    struct stat aside {};
    struct stat named {};
    if (::lstat(m_aside.constData(), &aside) == 0 && ::lstat(m_backup.constData(), &named) == 0
        && aside.st_dev == named.st_dev && aside.st_ino == named.st_ino) {
        ::unlink(m_aside.constData());
        m_aside.clear();
        return;
    }
    // Over the backup this run made for a file it did not rewrite. Should
    // that fail, the older backup stays under its hidden name rather than
    // be lost.
    ::rename(m_aside.constData(), m_backup.constData());
    m_aside.clear();
}

} // namespace vexalo
