// SPDX-License-Identifier: MIT
#pragma once

// What the reader, the writer and the checks of engine/files share among
// themselves; nothing outside engine/files includes it.

#include "engine/files/WriteOptions.h"

#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

namespace vexalo::filesdetail {

QByteArray native(const QString &path);

// Closes a descriptor on every way out; close() errors matter only where the
// caller checks them explicitly.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release()
    {
        const int f = fd;
        fd = -1;
        return f;
    }
};

// Eight letters and digits, for the name of a temporary.
QByteArray randomSuffix();
QByteArray folderOf(const QByteArray &path);
// Still the file that was read: the same inode, size and modification time.
bool sameFile(const struct stat &a, const struct stat &b);
// A backup takes the place of an older backup or of a link, never of a
// folder, a device, a pipe or a socket someone put there.
IoStatus nameRefusesBackup(const struct stat &named);

} // namespace vexalo::filesdetail
