// SPDX-License-Identifier: MIT
#pragma once

// The journal's folder on disk: where it may be, how it is made without
// following a link someone planted, its entries (one folder per run, named
// by the run's number), its locks and its run counter.

#include "engine/files/WriteOptions.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/types.h>
#include <vector>

namespace vexalo::journal {

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f)
        : fd(f)
    {
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }
    void reset(int f = -1);
};

inline const QByteArray manifestName = "manifest";
// The number of the last run Undo took back as a whole.
inline const QByteArray undoneName = "undone";
// Held briefly while entries are made, dropped or undone.
inline const QByteArray lockName = "lock";
// Held shared by every run for as long as it goes on, and exclusively by
// Undo: a run waits for an Undo, and an Undo refuses while a run goes on.
inline const QByteArray busyName = "busy";
// The number of the last run begun.
inline const QByteArray sequenceName = "sequence";
// In a home journal: its own name, made when a run first keeps its entry
// on another volume. A volume's journal folder serves every home journal of
// the user (root's, say, with and without a user's XDG_STATE_HOME), whose
// numbers, locks and undone marks are their own: each entry there names
// the home journal it belongs to in its owner file, and only that one lists
// and undoes it.
inline const QByteArray idName = "id";
inline const QByteArray ownerName = "owner";
// What a finished run's kept files take, so that a new run need not read
// every older run's manifest to know how much room is left.
inline const QByteArray bytesName = "bytes";

QByteArray readSmallFile(const QByteArray &path, int *error = nullptr);
// All of data, at the descriptor's position or, given at, from there on.
int writeAll(int fd, QByteArrayView data, off_t at = -1);
int syncPath(const QByteArray &path);

// Why a folder on the way to path cannot hold this user's journal (it
// belongs to another user, others may change it, it is a link that is not
// the system's own), or empty when none is found. Folders that do not exist
// yet are fine unless mustExist.
QString untrustedOnTheWay(const QByteArray &path, bool mustExist);

// Makes the journal folder and those above it that are missing, each
// private to this user, never through a link; checks the way first.
IoStatus ensureJournalFolder(const QByteArray &root);

// The entries' folder names, oldest run first. Names of an earlier version
// of the program (not a plain number) come before all others.
QByteArrayList entryNames(const QByteArray &root, int *error);
QByteArray entryName(qint64 run);
// An entry among those of several journal folders.
struct RootedEntry {
    QByteArray root;
    QByteArray name;
};
// Every entry of roots, oldest run first whichever folder holds it: all of
// the first (the home journal), and of the others (volumes' journals) those
// that home journal began, whose owner file holds homeId. An error is that
// of the first root; the others are only looked in.
QList<RootedEntry> entryNames(const QList<QByteArray> &roots, const QByteArray &homeId, int *error);
qint64 runOfEntry(const QByteArray &name); // -1: not a run number

// An entry's files go first, then its folder; a run still writing into it
// holds its manifest locked, and is left alone unless evenIfLocked.
bool removeEntry(const QByteArray &dirPath, bool evenIfLocked = false);
// An older entry given up for room: renamed out of the way at once, so that
// it counts no more; its files go with deleteDropped.
bool dropLater(const QByteArray &dirPath);
// Deletes every entry given up in root, this run's and those an earlier run
// was stopped before it had deleted: by a small program of its own at the
// lowest priority, which the program does not wait for, so that neither the
// end of a run nor the program's exit waits for thousands of deletions; here
// where that program is not found or cannot be started.
void deleteDropped(const QByteArray &root);

// Holds the journal's own lock while it lives.
class RootLock {
public:
    explicit RootLock(const QByteArray &root);

private:
    Fd m_fd;
};

// The next run's number, taken under the root lock: one more than the last
// begun, never from the clock, and past every entry in alsoPast (the
// journal on another volume the run's entry goes to, whose lock is held
// too). -1 with *error set when it cannot be.
qint64 takeRunNumber(const QByteArray &root, int *error, const QByteArray &alsoPast = {});

// Copies what fd holds into a new file at target: a clone where the file
// system shares blocks, else copy_file_range, else plain reads and writes.
// *created is the new file's descriptor, the caller's to close.
int copyInto(int from, const QByteArray &target, qint64 size, int *created);
// Whether two names in the entry's folder can be swapped in one step: the
// file system may not know how (a network share), and the old file is then
// linked before the rename instead.
bool canSwapIn(int dirFd);

// The home journal's name (see idName), made when create and missing;
// empty when there is none.
QByteArray homeJournalId(const QByteArray &home, bool create);

// The journal's folder at the top of another file system:
// ".vexalo-journal-" and the user's number.
QByteArray volumeJournalName();

struct VolumeJournal {
    QByteArray root; // empty: the run keeps its entry in the home journal
    QString refused; // a journal folder found there that is not used, and why
};

// Where a run over the files in folder keeps its entry when they are on
// another file system than homeDevice: that file system's own journal
// folder, made where missing, when its top folder is under the folder
// `under` ("/" for any), is trusted and can be written.
VolumeJournal volumeJournalFor(const QByteArray &folder, dev_t homeDevice, const QByteArray &under);

// The journal folders of other file systems, found through the list of
// mounts: only this user's own, mode 0700, never a link.
QByteArrayList volumeJournals(const QByteArray &under);

// In a home journal: the top folders of the other file systems that hold
// its runs, each with the number of the newest run kept there. Undo and the
// list look only there, never at every mount (a look at a network share
// gone dead can hang), and can name a volume that is not mounted now.
inline const QByteArray volumesName = "volumes";

struct ListedVolume {
    QByteArray top;
    qint64 newest = -1;
};

struct VolumesSeen {
    QByteArrayList roots;          // the journal folders of the listed volumes mounted now
    QList<ListedVolume> unmounted; // listed volumes whose top is not a mount point now
};

// The listed volumes under `under` ("/" for any), as they are now; the list
// is brought up to date (a volume whose journal holds none of this home
// journal's runs any more leaves it) under home's lock, taken here unless
// haveLock. A journal of an earlier version, which has none, is given one
// by a single walk of the mounts.
VolumesSeen seeVolumes(const QByteArray &home, const QByteArray &under, bool haveLock);

// Under home's lock: root (a volume's journal folder) holds the run newest
// of this home journal, or (-1) none any more. durable: the list is on the
// disk when this returns, where the volume is new to it. A home journal of
// an earlier version is first given its list by a walk of the mounts under
// walkUnder (none when empty: a journal that has just been given its name).
// False when the list could not be written.
bool noteVolume(const QByteArray &home, const QByteArray &root, qint64 newest, bool durable,
                const QByteArray &walkUnder);
// The newest run of the home journal homeId in root, or -1.
qint64 newestOwnRun(const QByteArray &root, const QByteArray &homeId);

// A name of the journal's as people read it (bytes that are not UTF-8 as \xHH).
QString shown(const QByteArray &path);

} // namespace vexalo::journal
