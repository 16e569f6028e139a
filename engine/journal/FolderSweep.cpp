// SPDX-License-Identifier: MIT
#include "engine/journal/FolderSweep.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace vexalo::journal {

namespace {

bool isDotOrDotDot(const char *name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

} // namespace

bool deleteFolder(int at, const char *path, char *buffer, std::size_t size)
{
    // Names are deleted as they are read, by name within the open folder (an
    // entry holds thousands, and a full path would be walked again for
    // each); a file system that then passes one over gets a second pass.
    for (int pass = 0; pass < 2; ++pass) {
        const int dir = ::openat(at, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir >= 0) {
            ssize_t n = 0;
            while ((n = ::getdents64(dir, buffer, size)) > 0) {
                for (ssize_t next = 0; next < n;) {
                    const auto *e = reinterpret_cast<const dirent64 *>(buffer + next);
                    next += e->d_reclen;
                    if (!isDotOrDotDot(e->d_name))
                        ::unlinkat(dir, e->d_name, 0);
                }
            }
            ::close(dir);
        }
        if (::unlinkat(at, path, AT_REMOVEDIR) == 0)
            return true;
        if (errno != ENOTEMPTY && errno != EEXIST)
            return false;
    }
    return false;
}

void sweepDropped(const char *root)
{
    const int rootFd = ::open(root, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (rootFd < 0)
        return;
    // On the stack: the program may sweep from two threads at once.
    alignas(dirent64) char names[8 * 1024];
    alignas(dirent64) char buffer[32 * 1024];
    const std::size_t prefix = std::strlen(droppedPrefix);
    // Renaming away and deleting change the folder as it is read: read again
    // until a pass finds nothing more to delete.
    for (bool found = true; found;) {
        found = false;
        ::lseek(rootFd, 0, SEEK_SET);
        ssize_t n = 0;
        while ((n = ::getdents64(rootFd, names, sizeof names)) > 0) {
            for (ssize_t next = 0; next < n;) {
                const auto *e = reinterpret_cast<const dirent64 *>(names + next);
                next += e->d_reclen;
                if (std::strncmp(e->d_name, droppedPrefix, prefix) == 0
                    && deleteFolder(rootFd, e->d_name, buffer, sizeof buffer))
                    found = true;
            }
        }
    }
    ::close(rootFd);
}

} // namespace vexalo::journal
