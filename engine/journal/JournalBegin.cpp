// SPDX-License-Identifier: MIT
// The start of a run's journal: where its entry goes (the home journal, or
// the journal folder on the files' own file system), the entry made there
// under the journal's locks, its number and its header record.
#include "engine/journal/JournalRunShared.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vexalo {

using namespace journal;

namespace {

// The run's entry in root, under root's lock (and home's, taken before it):
// older entries give way to the budget, which is that of root's own file
// system, and the run takes its number. Empty, or why not.
QString openEntry(JournalRun::Shared &s, const QByteArray &home, const JournalLimits &limits)
{
    const QByteArray &root = s.root;
    // Older entries: the oldest go while there are too many with this one.
    int err = 0;
    QByteArrayList names = entryNames(root, &err);
    if (err)
        return IoStatus::fromErrno(err).error;
    while (!names.isEmpty() && names.size() >= limits.runs)
        dropLater(root + '/' + names.takeFirst());
    qint64 olderBytes = 0;
    for (const QByteArray &name : std::as_const(names)) {
        bool known = false;
        qint64 bytes = readSmallFile(root + '/' + name + '/' + bytesName).toLongLong(&known);
        if (!known)
            bytes = parseManifest(readSmallFile(root + '/' + name + '/' + manifestName)).keptBytes();
        s.older.emplace_back(root + '/' + name, bytes);
        olderBytes += bytes;
    }

    struct statvfs fs {};
    struct stat rootInfo {};
    if (::statvfs(root.constData(), &fs) != 0 || ::stat(root.constData(), &rootInfo) != 0)
        return IoStatus::fromErrno(errno).error;
    s.device = rootInfo.st_dev;
    const qint64 room = qint64(fs.f_bavail) * qint64(fs.f_frsize) + olderBytes;
    s.budget = std::min<qint64>(limits.maxBytes, room / 100 * limits.freePercent);

    // The run's number orders it among the others, in every journal
    // folder: taken from the home journal's counter and past the entries of
    // the folder it goes to. Its start time is only for people, since a
    // clock can be set back.
    qint64 number = -1;
    for (int attempt = 0; attempt < 100; ++attempt) {
        number = takeRunNumber(home, &err, root == home ? QByteArray() : root);
        if (number < 0)
            return IoStatus::fromErrno(err).error;
        if (::mkdir((root + '/' + entryName(number)).constData(), 0700) == 0)
            break;
        if (errno != EEXIST || attempt == 99)
            return IoStatus::fromErrno(errno).error;
    }
    s.number = number;
    s.dir = root + '/' + entryName(number);
    s.dirHandle.reset(::open(s.dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    int openErr = s.dirHandle.fd < 0 ? errno : 0;
    if (!openErr && root != home) {
        // On a volume: whose run it is, before anything else is in it.
        const QByteArray id = homeJournalId(home, true);
        Fd owner(::openat(s.dirHandle.fd, ownerName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                          0600));
        openErr = id.isEmpty() ? EIO : owner.fd < 0 ? errno : writeAll(owner.fd, id);
        // Lost in a crash, it would leave the run to no one's Undo.
        if (!openErr && s.durability != Durability::None && ::fdatasync(owner.fd) != 0)
            openErr = errno;
    }
    if (openErr) {
        removeEntry(s.dir, true);
        return IoStatus::fromErrno(openErr).error;
    }
    s.canSwap = canSwapIn(s.dirHandle.fd);
    s.manifest.reset(
        ::open((s.dir + '/' + manifestName).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (s.manifest.fd < 0) {
        const int openErr = errno;
        removeEntry(s.dir, true);
        return IoStatus::fromErrno(openErr).error;
    }
    ::flock(s.manifest.fd, LOCK_EX);
    return {};
}

// Files on another file system than the home journal keep their old
// content in that file system's own journal folder (under volumesUnder),
// by a rename or a link; where there is none to be had, by a copy in the
// home journal (location), and the notice says why. The volume's journal
// is s.root then, its lock held in volumeLock.
void chooseVolume(JournalRun::Shared &s, const FilePath &folder, const FilePath &volumesUnder, const FilePath &location,
                  std::optional<RootLock> &volumeLock)
{
    struct stat homeInfo {};
    if (volumesUnder.isEmpty() || ::stat(s.home.constData(), &homeInfo) != 0)
        return;
    const VolumeJournal volume = volumeJournalFor(absolutePath(folder, s.cwd), homeInfo.st_dev, volumesUnder.bytes());
    if (!volume.root.isEmpty()) {
        s.root = volume.root;
        volumeLock.emplace(volume.root);
    } else if (!volume.refused.isEmpty()) {
        const QString said =
            QCoreApplication::translate("vexalo", "%1; the journal keeps copies of this run's files in %2 instead")
                .arg(volume.refused, location.display());
        s.notice += (s.notice.isEmpty() ? QString() : QStringLiteral("; ")) + said;
    }
}

} // namespace

std::unique_ptr<JournalRun> Journal::record(const FilePath &folder, Durability durability) const
{
    std::unique_ptr<JournalRun> run(new JournalRun);
    auto shared = std::make_shared<JournalRun::Shared>();
    run->m_shared = shared;
    shared->durability = durability;
    shared->notice = m_note;
    const QByteArray &home = m_location.bytes();
    shared->home = home;
    shared->root = home;
    auto fail = [&](const QString &reason) {
        shared->problem = QCoreApplication::translate(
                              "vexalo", "the journal in %1 could not be written, so this run cannot be undone: %2")
                              .arg(FilePath::fromBytes(shared->root).display(), reason);
        shared->manifest.reset();
        shared->busy.reset();
        return std::move(run);
    };
    if (const IoStatus made = ensureJournalFolder(home); !made.ok())
        return fail(made.error);
    // An Undo going on is waited for: it may be about to put back files this
    // run would otherwise read half-way. Held on the home journal wherever
    // the run's entry goes, so that Undo sees every run going on.
    shared->busy.reset(::open((home + '/' + busyName).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (shared->busy.fd < 0)
        return fail(IoStatus::fromErrno(errno).error);
    while (::flock(shared->busy.fd, LOCK_SH) != 0 && errno == EINTR) {
    }
    RootLock lock(home);

    if (char *cwd = ::getcwd(nullptr, 0)) {
        shared->cwd = cwd;
        std::free(cwd);
    }
    std::optional<RootLock> volumeLock;
    chooseVolume(*shared, folder, m_volumesUnder, m_location, volumeLock);
    // A journal of an earlier version has kept runs on other volumes
    // without listing them; given a name only now, it has kept none.
    const bool named = !homeJournalId(home, false).isEmpty();
    QString why = openEntry(*shared, home, m_limits);
    // The volume is listed in the home journal before a file is touched, so
    // that Undo finds the run without looking at every mount, and names the
    // volume when it is not mounted.
    if (why.isEmpty() && shared->root != home
        && !noteVolume(home, shared->root, shared->number, durability != Durability::None,
                       named ? m_volumesUnder.bytes() : QByteArray())) {
        shared->manifest.reset();
        removeEntry(shared->dir, true);
        why = QCoreApplication::translate("vexalo", "the list of volumes in %1 could not be written")
                  .arg(m_location.display());
    }
    if (!why.isEmpty() && shared->root != home) {
        // A volume's journal that cannot take the entry after all (full,
        // say): the home journal, as where there is none.
        volumeLock.reset();
        shared->older.clear();
        shared->root = home;
        why = openEntry(*shared, home, m_limits);
    }
    if (!why.isEmpty())
        return fail(why);

    Record header;
    header.kind = Record::Kind::Header;
    header.run = shared->number;
    header.folder = absolutePath(folder, shared->cwd);
    header.startedMs = QDateTime::currentMSecsSinceEpoch();
    const QByteArray headerLine = recordLine(header);
    if (const int writeErr = writeAll(shared->manifest.fd, headerLine)) {
        shared->manifest.reset();
        removeEntry(shared->dir, true);
        return fail(IoStatus::fromErrno(writeErr).error);
    }
    shared->manifestEnd = headerLine.size();
    shared->mapRecords();
    return run;
}

} // namespace vexalo
