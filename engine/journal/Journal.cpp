// SPDX-License-Identifier: MIT
// The journal as a whole: where it lives, and the runs it holds.
#include "engine/journal/Journal.h"
#include "engine/journal/JournalFolder.h"
#include "engine/journal/JournalRecord.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexalo {

using namespace journal;

namespace {

QByteArray fromHome(const QByteArray &home)
{
    return home + "/.local/state";
}

QByteArray passwdHome()
{
    struct passwd entry {};
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QByteArray(found->pw_dir);
    return {};
}

} // namespace

FilePath Journal::defaultLocation(QString *note)
{
    // Every folder on the way must be this user's or root's, and no one
    // else's to change: run through sudo with a user's environment, root
    // would otherwise keep copies of the files it rewrote where that user
    // can rename them away or read them.
    QByteArray base;
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    QString refused;
    if (!state.isEmpty()) {
        refused = untrustedOnTheWay(state, true);
        if (refused.isEmpty())
            base = state;
    }
    if (base.isEmpty()) {
        const QByteArray home = qgetenv("HOME");
        if (home.startsWith('/') && untrustedOnTheWay(home, true).isEmpty()
            && untrustedOnTheWay(fromHome(home), false).isEmpty())
            base = fromHome(home);
    }
    if (base.isEmpty()) {
        const QByteArray home = passwdHome();
        base = home.startsWith('/') ? fromHome(home) : QByteArray("/nonexistent");
    }
    const FilePath location = FilePath::fromBytes(base + "/Vexalo/journal");
    // Not said where the place refused is the default one anyway (a state
    // folder not made yet).
    if (note && !refused.isEmpty() && base != state)
        *note =
            QCoreApplication::translate("vexalo", "XDG_STATE_HOME is not used for the journal (%1); it is kept in %2")
                .arg(refused, location.display());
    return location;
}

Journal::Journal()
    : m_volumesUnder(FilePath::fromBytes("/"))
{
    // In the body: m_note is made after m_location, and made empty again
    // when written while m_location is being made.
    m_location = defaultLocation(&m_note);
}

Journal::Journal(const FilePath &location, const JournalLimits &limits, const FilePath &volumesUnder)
    : m_location(location)
    , m_limits(limits)
    , m_volumesUnder(volumesUnder)
{
}

QList<QByteArray> Journal::roots(QList<JournalEntry> *unmounted, bool haveLock) const
{
    const QByteArray &home = m_location.bytes();
    QList<QByteArray> all = {home};
    if (m_volumesUnder.isEmpty())
        return all;
    const VolumesSeen seen = seeVolumes(home, m_volumesUnder.bytes(), haveLock);
    all += seen.roots;
    for (const ListedVolume &volume : seen.unmounted) {
        if (!unmounted)
            break;
        JournalEntry e;
        e.run = volume.newest;
        e.id = QString::fromLatin1(entryName(volume.newest));
        e.root = FilePath::fromBytes(volume.top) / volumeJournalName();
        e.notMounted = FilePath::fromBytes(volume.top);
        unmounted->append(e);
    }
    return all;
}

namespace {

// An entry as Undo and the list see it.
JournalEntry readEntry(const QByteArray &root, const QByteArray &name)
{
    JournalEntry e;
    e.id = QString::fromLatin1(name);
    e.run = runOfEntry(name);
    e.root = FilePath::fromBytes(root);
    const QByteArray manifestPath = root + '/' + name + '/' + manifestName;
    Fd fd(::open(manifestPath.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    // A run going on holds its manifest locked.
    e.running = fd.fd >= 0 && ::flock(fd.fd, LOCK_SH | LOCK_NB) != 0;
    int err = 0;
    const Manifest m = parseManifest(readSmallFile(manifestPath, &err));
    e.neverBegan = !e.running && ((err == ENOENT && fd.fd < 0) || (!err && m.noLine));
    if (err) {
        e.unreadable = IoStatus::fromErrno(err).error;
        return e;
    }
    if (!m.readable) {
        e.unreadable = m.unreadable;
        return e;
    }
    e.folder = FilePath::fromBytes(m.header.folder);
    e.time = QDateTime::fromMSecsSinceEpoch(m.header.startedMs);
    e.files = m.pending(true);
    e.unkept = m.pending(false);
    e.bytes = m.keptBytes();
    e.damaged = int(m.damaged.size());
    return e;
}

} // namespace

QList<JournalEntry> Journal::entries(QString *error) const
{
    int err = 0;
    QList<JournalEntry> unmounted;
    const QList<QByteArray> folders = roots(&unmounted);
    const QList<RootedEntry> names = entryNames(folders, homeJournalId(m_location.bytes(), false), &err);
    if (err && error)
        *error = IoStatus::fromErrno(err).error;
    QList<JournalEntry> out;
    for (auto it = names.crbegin(); it != names.crend(); ++it) {
        JournalEntry entry = readEntry(it->root, it->name);
        if (!entry.neverBegan)
            out.append(entry);
    }
    // A volume not mounted now is named where its newest run would be.
    for (const JournalEntry &gone : std::as_const(unmounted)) {
        const auto at = std::find_if(out.begin(), out.end(), [&](const JournalEntry &e) { return e.run < gone.run; });
        out.insert(at, gone);
    }
    return out;
}

std::optional<JournalEntry> Journal::lastRun(QString *why) const
{
    return lastRun(why, false);
}

std::optional<JournalEntry> Journal::lastRun(QString *why, bool haveLock) const
{
    auto none = [why](const QString &reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    // Only the newest entry is read: the window asks each time its Run menu
    // opens. The newest is the one with the highest number, whatever the
    // clock said when the runs began, and whichever journal folder holds it.
    const QByteArray &root = m_location.bytes();
    int err = 0;
    QList<JournalEntry> unmounted;
    const QList<QByteArray> folders = roots(&unmounted, haveLock);
    const QList<RootedEntry> names = entryNames(folders, homeJournalId(m_location.bytes(), false), &err);
    if (err)
        return none(QCoreApplication::translate("vexalo", "the journal cannot be read: %1")
                        .arg(IoStatus::fromErrno(err).error));
    // Undo takes back the last run only: once that is undone, the runs
    // before it stay as they are, in every journal folder. The mark is
    // kept in the home journal alone.
    bool undoneKnown = false;
    const qint64 undone = readSmallFile(root + '/' + undoneName).trimmed().toLongLong(&undoneKnown);
    // A run killed before it wrote its first line rewrote nothing, and must
    // not stand between Undo and the run before it.
    JournalEntry last;
    auto it = names.crbegin();
    for (; it != names.crend(); ++it) {
        last = readEntry(it->root, it->name);
        if (!last.neverBegan)
            break;
    }
    // The last run may be on a volume that is not mounted now: Undo never
    // takes back a run before it meanwhile.
    const qint64 lastSeen = it == names.crend() ? -1 : last.run;
    for (const JournalEntry &gone : std::as_const(unmounted)) {
        if (gone.run > lastSeen && !(undoneKnown && gone.run <= undone))
            return none(
                QCoreApplication::translate(
                    "vexalo", "the last run, run %1, is kept on %2, which is not mounted now; mount it to undo the run")
                    .arg(gone.run)
                    .arg(gone.notMounted.display()));
    }
    if (it == names.crend())
        return none(undoneKnown ? QCoreApplication::translate(
                        "vexalo", "the last run was undone already; there is no run to undo")
                                : QCoreApplication::translate("vexalo", "there is no run to undo"));
    if (undoneKnown && last.run >= 0 && last.run <= undone)
        return none(QCoreApplication::translate("vexalo", "the last run was undone already; there is no run to undo"));
    return last;
}

} // namespace vexalo
