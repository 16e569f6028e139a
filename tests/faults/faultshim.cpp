// SPDX-License-Identifier: MIT
// A preloaded library that makes one chosen system call fail, or kills the
// process right before or after it, so the fault tests can provoke every
// failure of a rewrite for real instead of imagining it.
//
// Only calls that touch a path under VXF_DIR count (for calls on a
// descriptor, the file it refers to); the driver's own output and Qt's files
// never do. Environment:
//   VXF_DIR     the folder under test (required; without it nothing happens)
//   VXF_CALL    the call to hit: open-read, open-write, open-create,
//               open-tmpfile, open-dir, read, write, fchmod, fchown,
//               fdatasync, fsync, syncfs, fallocate, close, linkat, link, rename,
//               renameat2, unlink, listxattr, llistxattr, getxattr,
//               lgetxattr, fsetxattr, fremovexattr; or * for any of them
//   VXF_NTH     the 1-based number of the matching call to hit; 0 hits every one
//   VXF_ACTION  fail (default), kill-before, kill-after, change (append
//               VXF_CHANGE_DATA to VXF_CHANGE_PATH, then make the call),
//               overwrite (write VXF_CHANGE_DATA over the start of
//               VXF_CHANGE_PATH in place: same size, same inode, and
//               likely the same second), truncate (cut VXF_CHANGE_PATH
//               to half its size),
//               remove (delete VXF_CHANGE_PATH, then make the call),
//               short (write: only half of the bytes, as the kernel may)
//   VXF_ERRNO   the error a failing call gives (default ENOSPC for write, EIO else)
//   VXF_NO_TMPFILE  when set, every O_TMPFILE open fails with EOPNOTSUPP and
//               is not counted, as on a file system without unnamed files
//   VXF_NO_RENAMEAT2  when set, every renameat2 fails with EINVAL and is not
//               counted, as on a file system without RENAME_NOREPLACE or
//               RENAME_EXCHANGE
//   VXF_TRACE   a file that gets one line per matching call: "number call path"
//   VXF_CLOCK_SHIFT  seconds added to the wall clock (gettimeofday, and
//               clock_gettime of CLOCK_REALTIME), as a clock set back would read
// pread counts as read, pwrite, writev and copy_file_range as write, renameat and a
// renameat2 that swaps two files as rename, unlinkat as unlink. A path
// relative to an open folder counts as the path it names; a call on two paths
// counts where either is under VXF_DIR.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

std::atomic<long> g_count{0};

const char *env(const char *name)
{
    const char *v = std::getenv(name);
    return v && *v ? v : nullptr;
}

// The path a descriptor refers to; an unnamed file shows as "dir/#123 (deleted)".
bool fdPath(int fd, char *buf, size_t size)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const long n = syscall(SYS_readlinkat, AT_FDCWD, link, buf, size - 1);
    if (n <= 0)
        return false;
    buf[n] = '\0';
    return true;
}

bool underDir(const char *path)
{
    const char *dir = env("VXF_DIR");
    if (!dir || !path)
        return false;
    const size_t n = std::strlen(dir);
    return std::strncmp(path, dir, n) == 0 && (path[n] == '\0' || path[n] == '/');
}

void rawAppend(const char *path, const char *data, size_t size)
{
    const int fd = int(syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (fd < 0)
        return;
    syscall(SYS_write, fd, data, size);
    syscall(SYS_close, fd);
}

void rawOverwrite(const char *path, const char *data, size_t size)
{
    const int fd = int(syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CLOEXEC));
    if (fd < 0)
        return;
    syscall(SYS_pwrite64, fd, data, size, 0);
    syscall(SYS_close, fd);
}

void die()
{
    syscall(SYS_kill, syscall(SYS_getpid), SIGKILL);
}

// Decides what happens to one call and performs the "before" part of the
// action. after() performs the "after" part.
struct Hit {
    bool hit = false;
    bool killAfter = false;
    bool shortWrite = false;
    int err = 0;
};

Hit consider(const char *call, const char *path)
{
    Hit h;
    if (!underDir(path))
        return h;
    // With VXF_CALL=* the numbers are those of a VXF_TRACE run without VXF_CALL.
    const char *want = env("VXF_CALL");
    if (want && std::strcmp(want, "*") != 0 && std::strcmp(want, call) != 0)
        return h;
    if (!want && !env("VXF_TRACE"))
        return h;
    const long number = ++g_count;
    if (const char *trace = env("VXF_TRACE")) {
        char line[4200];
        const int n = std::snprintf(line, sizeof line, "%ld %s %s\n", number, call, path);
        rawAppend(trace, line, size_t(n > 0 && size_t(n) < sizeof line ? n : 0));
    }
    if (!want)
        return h;
    const long nth = env("VXF_NTH") ? std::atol(env("VXF_NTH")) : 0;
    if (nth != 0 && nth != number)
        return h;
    const char *action = env("VXF_ACTION") ? env("VXF_ACTION") : "fail";
    if (std::strcmp(action, "kill-before") == 0)
        die();
    if (std::strcmp(action, "kill-after") == 0) {
        h.killAfter = true;
        return h;
    }
    if (std::strcmp(action, "change") == 0) {
        if (const char *target = env("VXF_CHANGE_PATH")) {
            const char *data = env("VXF_CHANGE_DATA") ? env("VXF_CHANGE_DATA") : "changed";
            rawAppend(target, data, std::strlen(data));
        }
        return h;
    }
    if (std::strcmp(action, "overwrite") == 0) {
        if (const char *target = env("VXF_CHANGE_PATH")) {
            const char *data = env("VXF_CHANGE_DATA") ? env("VXF_CHANGE_DATA") : "changed";
            rawOverwrite(target, data, std::strlen(data));
        }
        return h;
    }
    if (std::strcmp(action, "truncate") == 0) {
        if (const char *target = env("VXF_CHANGE_PATH")) {
            struct stat st {};
            if (syscall(SYS_newfstatat, AT_FDCWD, target, &st, 0) == 0)
                syscall(SYS_truncate, target, st.st_size / 2);
        }
        return h;
    }
    if (std::strcmp(action, "short") == 0) {
        h.shortWrite = true;
        return h;
    }
    if (std::strcmp(action, "remove") == 0) {
        if (const char *target = env("VXF_CHANGE_PATH"))
            syscall(SYS_unlinkat, AT_FDCWD, target, 0);
        return h;
    }
    h.hit = true;
    h.err = env("VXF_ERRNO") ? std::atoi(env("VXF_ERRNO")) : std::strcmp(call, "write") == 0 ? ENOSPC : EIO;
    return h;
}

Hit considerFd(const char *call, int fd)
{
    char path[4096];
    if (!fdPath(fd, path, sizeof path))
        return {};
    return consider(call, path);
}

// A path given relative to an open folder, as the path it names.
struct AtPath {
    char buf[4200];
    const char *path;
    AtPath(int dirfd, const char *name)
        : path(name)
    {
        char dir[4096];
        if (name && name[0] != '/' && dirfd != AT_FDCWD && fdPath(dirfd, dir, sizeof dir)) {
            std::snprintf(buf, sizeof buf, "%s/%s", dir, name);
            path = buf;
        }
    }
};

// A call on two paths counts for the folder under test if either is in it.
Hit considerEither(const char *call, int oldDir, const char *oldName, int newDir, const char *newName)
{
    const AtPath from(oldDir, oldName);
    const AtPath to(newDir, newName);
    return consider(call, underDir(to.path) || !underDir(from.path) ? to.path : from.path);
}

template <typename R>
R finish(const Hit &h, R result)
{
    if (h.killAfter)
        die();
    return result;
}

const char *openKind(int flags)
{
    if ((flags & O_TMPFILE) == O_TMPFILE)
        return "open-tmpfile";
    if (flags & O_CREAT)
        return "open-create";
    if (flags & O_DIRECTORY)
        return "open-dir";
    return (flags & O_ACCMODE) == O_RDONLY ? "open-read" : "open-write";
}

template <typename F>
F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int openCommon(const char *realName, bool hasDirfd, int dirfd, const char *path, int flags, mode_t mode)
{
    if ((flags & O_TMPFILE) == O_TMPFILE && env("VXF_NO_TMPFILE") && underDir(path)) {
        errno = EOPNOTSUPP;
        return -1;
    }
    const Hit h = consider(openKind(flags), path);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    int fd;
    if (!hasDirfd) {
        using Fn = int (*)(const char *, int, ...);
        fd = real<Fn>(realName)(path, flags, mode);
    } else {
        using Fn = int (*)(int, const char *, int, ...);
        fd = real<Fn>(realName)(dirfd, path, flags, mode);
    }
    return finish(h, fd);
}

mode_t modeArg(int flags, va_list ap)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(ap, int)) : 0;
}

} // namespace

extern "C" {

int open(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArg(flags, ap);
    va_end(ap);
    return openCommon("open", false, 0, path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArg(flags, ap);
    va_end(ap);
    return openCommon("open64", false, 0, path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArg(flags, ap);
    va_end(ap);
    return openCommon("openat", true, dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = modeArg(flags, ap);
    va_end(ap);
    return openCommon("openat64", true, dirfd, path, flags, mode);
}

ssize_t read(int fd, void *buf, size_t count)
{
    const Hit h = considerFd("read", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<ssize_t (*)(int, void *, size_t)>("read")(fd, buf, count));
}

ssize_t write(int fd, const void *buf, size_t count)
{
    const Hit h = considerFd("write", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    if (h.shortWrite && count > 1)
        count /= 2;
    return finish(h, real<ssize_t (*)(int, const void *, size_t)>("write")(fd, buf, count));
}

// The journal writes a record at the end it knows with pwrite(): to the
// tests a write like any other. Its room ahead comes from fallocate().
namespace {

ssize_t pwriteCall(const char *name, int fd, const void *buf, size_t count, off_t offset)
{
    const Hit h = considerFd("write", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    if (h.shortWrite && count > 1)
        count /= 2;
    return finish(h, real<ssize_t (*)(int, const void *, size_t, off_t)>(name)(fd, buf, count, offset));
}

int fallocateCall(const char *name, int fd, int mode, off_t offset, off_t length)
{
    const Hit h = considerFd("fallocate", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<int (*)(int, int, off_t, off_t)>(name)(fd, mode, offset, length));
}

} // namespace

ssize_t pwrite(int fd, const void *buf, size_t count, off_t offset)
{
    return pwriteCall("pwrite", fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void *buf, size_t count, off_t offset)
{
    return pwriteCall("pwrite64", fd, buf, count, offset);
}

int fallocate(int fd, int mode, off_t offset, off_t length)
{
    return fallocateCall("fallocate", fd, mode, offset, length);
}

int fallocate64(int fd, int mode, off_t offset, off_t length)
{
    return fallocateCall("fallocate64", fd, mode, offset, length);
}

// A file read in blocks is compared and copied with pread(): to the tests it
// is a read like any other.
ssize_t pread(int fd, void *buf, size_t count, off_t offset)
{
    const Hit h = considerFd("read", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<ssize_t (*)(int, void *, size_t, off_t)>("pread")(fd, buf, count, offset));
}

ssize_t pread64(int fd, void *buf, size_t count, off_t offset)
{
    const Hit h = considerFd("read", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<ssize_t (*)(int, void *, size_t, off_t)>("pread64")(fd, buf, count, offset));
}

// A copy in the kernel (a backup, a restore, the unchanged start of a large
// file) writes its target: the same "write" call to the tests.
ssize_t copy_file_range(int in, off_t *inOffset, int out, off_t *outOffset, size_t count, unsigned flags)
{
    using Fn = ssize_t (*)(int, off_t *, int, off_t *, size_t, unsigned);
    const Hit h = considerFd("write", out);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    if (h.shortWrite && count > 1)
        count /= 2;
    return finish(h, real<Fn>("copy_file_range")(in, inOffset, out, outOffset, count, flags));
}

// The writer hands long stretches over with writev(); to the tests it is the
// same "write" call, failing, cut short or killed in the same ways.
ssize_t writev(int fd, const struct iovec *iov, int iovcnt)
{
    using Fn = ssize_t (*)(int, const struct iovec *, int);
    const Hit h = considerFd("write", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    size_t total = 0;
    for (int i = 0; i < iovcnt; ++i)
        total += iov[i].iov_len;
    if (h.shortWrite && total > 1) {
        // Only the first half of the bytes, as the kernel may do.
        struct iovec part[1024];
        int count = 0;
        size_t left = total / 2;
        for (int i = 0; i < iovcnt && left > 0 && count < 1024; ++i) {
            const size_t take = iov[i].iov_len < left ? iov[i].iov_len : left;
            part[count++] = {iov[i].iov_base, take};
            left -= take;
        }
        return finish(h, real<Fn>("writev")(fd, part, count));
    }
    return finish(h, real<Fn>("writev")(fd, iov, iovcnt));
}

#define FD_CALL(name)                                                                                                  \
    int name(int fd)                                                                                                   \
    {                                                                                                                  \
        const Hit h = considerFd(#name, fd);                                                                           \
        if (h.hit) {                                                                                                   \
            errno = h.err;                                                                                             \
            return -1;                                                                                                 \
        }                                                                                                              \
        return finish(h, real<int (*)(int)>(#name)(fd));                                                               \
    }

FD_CALL(fdatasync)
FD_CALL(fsync)
FD_CALL(syncfs)

int close(int fd)
{
    const Hit h = considerFd("close", fd);
    if (h.hit) {
        // As the kernel does: the descriptor is gone even when close reports an error.
        real<int (*)(int)>("close")(fd);
        errno = h.err;
        return -1;
    }
    return finish(h, real<int (*)(int)>("close")(fd));
}

// Taking the lock on a file read unlocked: a change just before it is one
// made after the file was read.
int flock(int fd, int operation)
{
    const Hit h = considerFd("flock", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<int (*)(int, int)>("flock")(fd, operation));
}

int fchmod(int fd, mode_t mode)
{
    const Hit h = considerFd("fchmod", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<int (*)(int, mode_t)>("fchmod")(fd, mode));
}

int fchown(int fd, uid_t uid, gid_t gid)
{
    const Hit h = considerFd("fchown", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<int (*)(int, uid_t, gid_t)>("fchown")(fd, uid, gid));
}

int linkat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath, int flags)
{
    const Hit h = consider("linkat", AtPath(newdirfd, newpath).path);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h,
                  real<int (*)(int, const char *, int, const char *, int)>("linkat")(olddirfd, oldpath, newdirfd,
                                                                                     newpath, flags));
}

int link(const char *oldpath, const char *newpath)
{
    const Hit h = consider("link", newpath);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<int (*)(const char *, const char *)>("link")(oldpath, newpath));
}

int rename(const char *oldpath, const char *newpath)
{
    const Hit h = consider("rename", newpath);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<int (*)(const char *, const char *)>("rename")(oldpath, newpath));
}

int renameat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath)
{
    const Hit h = considerEither("rename", olddirfd, oldpath, newdirfd, newpath);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(
        h, real<int (*)(int, const char *, int, const char *)>("renameat")(olddirfd, oldpath, newdirfd, newpath));
}

int renameat2(int olddirfd, const char *oldpath, int newdirfd, const char *newpath, unsigned int flags)
{
    if (env("VXF_NO_RENAMEAT2")
        && (underDir(AtPath(newdirfd, newpath).path) || underDir(AtPath(olddirfd, oldpath).path))) {
        errno = EINVAL;
        return -1;
    }
    // A swap puts the new file in place as a rename does, and counts as one.
    const Hit h =
        considerEither(flags & RENAME_EXCHANGE ? "rename" : "renameat2", olddirfd, oldpath, newdirfd, newpath);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h,
                  real<int (*)(int, const char *, int, const char *, unsigned int)>("renameat2")(
                      olddirfd, oldpath, newdirfd, newpath, flags));
}

// Qt reads the wall clock with gettimeofday.
int gettimeofday(struct timeval *time, void *zone)
{
    const int rc = real<int (*)(struct timeval *, void *)>("gettimeofday")(time, zone);
    if (rc == 0 && time) {
        if (const char *shift = env("VXF_CLOCK_SHIFT"))
            time->tv_sec += std::atol(shift);
    }
    return rc;
}

int clock_gettime(clockid_t clock, struct timespec *time)
{
    const int rc = real<int (*)(clockid_t, struct timespec *)>("clock_gettime")(clock, time);
    if (rc == 0 && time && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE)) {
        if (const char *shift = env("VXF_CLOCK_SHIFT"))
            time->tv_sec += std::atol(shift);
    }
    return rc;
}

// The attribute calls the writer makes to carry a file's ACL and extended
// attributes over to its new file.
ssize_t listxattr(const char *path, char *list, size_t size)
{
    const Hit h = consider("listxattr", path);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<ssize_t (*)(const char *, char *, size_t)>("listxattr")(path, list, size));
}

ssize_t llistxattr(const char *path, char *list, size_t size)
{
    const Hit h = consider("llistxattr", path);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<ssize_t (*)(const char *, char *, size_t)>("llistxattr")(path, list, size));
}

ssize_t getxattr(const char *path, const char *name, void *value, size_t size)
{
    const Hit h = consider("getxattr", path);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    using Fn = ssize_t (*)(const char *, const char *, void *, size_t);
    return finish(h, real<Fn>("getxattr")(path, name, value, size));
}

ssize_t lgetxattr(const char *path, const char *name, void *value, size_t size)
{
    const Hit h = consider("lgetxattr", path);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    using Fn = ssize_t (*)(const char *, const char *, void *, size_t);
    return finish(h, real<Fn>("lgetxattr")(path, name, value, size));
}

// The same, read from the file a run holds open.
ssize_t flistxattr(int fd, char *list, size_t size)
{
    const Hit h = considerFd("flistxattr", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<ssize_t (*)(int, char *, size_t)>("flistxattr")(fd, list, size));
}

ssize_t fgetxattr(int fd, const char *name, void *value, size_t size)
{
    const Hit h = considerFd("fgetxattr", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    using Fn = ssize_t (*)(int, const char *, void *, size_t);
    return finish(h, real<Fn>("fgetxattr")(fd, name, value, size));
}

int fsetxattr(int fd, const char *name, const void *value, size_t size, int flags)
{
    const Hit h = considerFd("fsetxattr", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    using Fn = int (*)(int, const char *, const void *, size_t, int);
    return finish(h, real<Fn>("fsetxattr")(fd, name, value, size, flags));
}

int fremovexattr(int fd, const char *name)
{
    const Hit h = considerFd("fremovexattr", fd);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<int (*)(int, const char *)>("fremovexattr")(fd, name));
}

int unlink(const char *path)
{
    const Hit h = consider("unlink", path);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<int (*)(const char *)>("unlink")(path));
}

int unlinkat(int dirfd, const char *path, int flags)
{
    const Hit h = consider(flags & AT_REMOVEDIR ? "rmdir" : "unlink", AtPath(dirfd, path).path);
    if (h.hit) {
        errno = h.err;
        return -1;
    }
    return finish(h, real<int (*)(int, const char *, int)>("unlinkat")(dirfd, path, flags));
}

} // extern "C"
