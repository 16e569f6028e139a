// SPDX-License-Identifier: MIT
#pragma once

// engine/journal: what a run keeps so that Undo can take it back, and Undo
// itself. May use engine/files and engine/text; never the runs.

#include "engine/files/FileOps.h"
#include "engine/files/Results.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/types.h>

namespace vexalo {

// How much the journal keeps: the last runs, within a share of the free space
// of the file system that holds it, and never more than a fixed size. The
// oldest runs go first; a single file larger than the room is not kept.
struct JournalLimits {
    int runs = 20;
    qint64 maxBytes = qint64(1) << 30;
    int freePercent = 5;
};

// One Replace run as the journal holds it.
struct JournalEntry {
    QString id;           // the entry's folder name
    qint64 run = -1;      // the run's number: a later run has a higher one, whatever the clock said
    FilePath folder;      // where the run worked, as the run was given it
    QDateTime time;       // when it started (for people only)
    int files = 0;        // rewritten files whose old content is kept and not yet put back
    int unkept = 0;       // rewritten files that could not be kept (too large, say)
    qint64 bytes = 0;     // what the kept files take
    int damaged = 0;      // records that cannot be read: the files they name cannot be undone
    bool running = false; // the run is still going on
    // The run was stopped (killed, say) before its first line was written,
    // so before it could rewrite a file: there is nothing to undo in it.
    bool neverBegan = false;
    QString unreadable; // why the entry cannot be read at all, when it cannot
    FilePath root;      // the journal folder that holds it: the home one, or one on the files' own volume
    // Where the volume that holds the run is not mounted now: its top
    // folder. Only the run's number is known then (the newest run kept
    // there; older ones may be there too).
    FilePath notMounted;
};

class JournalRun;

// One file a run is about to rewrite. The writer asks it once, just before
// the rename, where the old file goes; it records what Undo needs then,
// before the old file can be lost. Dropped without commit(), it takes back
// what it kept unless the file was replaced all the same.
class JournalFile {
public:
    JournalFile();
    JournalFile(JournalFile &&) noexcept;
    JournalFile &operator=(JournalFile &&) noexcept;
    ~JournalFile();

    // Makes the journal the writer's keeper; does nothing for a file the
    // journal does not keep.
    void attach(WriteOptions &options);
    // After a successful rewrite: records the file for Undo. Empty when it can
    // be undone; otherwise why not, for its result line.
    QString commit();

    struct State;

private:
    friend class JournalRun;
    std::unique_ptr<State> m_state;
};

// The recording of one Replace run, shared by its worker threads. A journal
// that cannot be written never stops the run: problem() then says why, once.
class JournalRun {
public:
    ~JournalRun(); // finishes

    // Why nothing of this run can be undone; empty while the journal works,
    // and for a run that rewrote no file.
    QString problem() const;
    // Something the user should know of the journal's place, said once.
    QString notice() const;
    // For a file about to be rewritten: path as the run names it, info and fd
    // of the file as read and locked.
    JournalFile keep(const FilePath &path, const struct stat &info, int fd);
    // Makes the journal as durable as the run asked and closes the entry; an
    // entry in which nothing was rewritten is removed.
    void finish();

    struct Shared;

private:
    friend class Journal;
    JournalRun() = default;
    std::shared_ptr<Shared> m_shared;
};

struct UndoResult {
    // No run to take back, or the journal itself failed: message says why
    // and no file was touched.
    bool refused = false;
    QString message;
    JournalEntry entry;
    RunSummary summary;    // one result per file of the run: Restored or Failed
    bool complete = false; // every file is back and the entry is gone
};

class Journal {
public:
    // $XDG_STATE_HOME/Vexalo/journal, or ~/.local/state/Vexalo/journal,
    // where every folder on the way is this user's (or root's) and no one
    // else may change it. *note says why a place that was asked for (an
    // XDG_STATE_HOME) is not used.
    static FilePath defaultLocation(QString *note = nullptr);

    // The default place, said once per run where it is not the one asked for,
    // and the journal folder at the top of each other file system a run's
    // files are on.
    Journal();
    // One journal folder, location, alone; with volumesUnder ("/" for any),
    // also the journal folders of the file systems mounted there or below.
    explicit Journal(const FilePath &location, const JournalLimits &limits = {}, const FilePath &volumesUnder = {});

    const FilePath &location() const { return m_location; }

    // Newest first. An error (a journal folder that cannot be read) is said in
    // *error; a journal never written is simply empty.
    QList<JournalEntry> entries(QString *error = nullptr) const;
    // The run Undo would take back: the newest, unless it has been undone
    // already. Empty, with the reason in *why, when there is none.
    std::optional<JournalEntry> lastRun(QString *why = nullptr) const;

    // Starts the journal of a Replace run over files in folder (for people;
    // each file's own path is recorded). durability: as the run's promise.
    std::unique_ptr<JournalRun> record(const FilePath &folder, Durability durability) const;

    // Puts back every file of the last run that still holds exactly what the
    // run wrote, atomically, with the old content and metadata, and says for
    // each of the others why not. fileDone is called per file as it is done.
    UndoResult undoLast(const RunControl &control = {}) const;

private:
    // Every journal folder to look in: the home one first, then those of the
    // volumes listed in it that are mounted now; *unmounted gets the others.
    // haveLock: the home journal's lock is held already.
    QList<QByteArray> roots(QList<JournalEntry> *unmounted = nullptr, bool haveLock = false) const;
    std::optional<JournalEntry> lastRun(QString *why, bool haveLock) const;

    FilePath m_location;
    QString m_note;
    JournalLimits m_limits;
    FilePath m_volumesUnder; // empty: the home journal alone
};

} // namespace vexalo
