// SPDX-License-Identifier: MIT
#pragma once

// What one run's journal shares between its files, its worker threads and
// the start of the run (JournalBegin.cpp), which makes its entry. Not for
// use outside engine/journal.

#include "engine/journal/Journal.h"
#include "engine/journal/JournalFolder.h"
#include "engine/journal/JournalRecord.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include <sys/types.h>
#include <unistd.h>

namespace vexalo {

namespace journal {

// The name as an absolute path: a relative one is taken from absolute (the
// run's working folder), or from the working folder now.
QByteArray absolutePath(const FilePath &path, QByteArray absolute = {});

} // namespace journal

struct JournalRun::Shared {
    // Set as the run starts (problem and finished also at a failure and at
    // the end) and read for every file without the lock: away from what
    // every file changes, on cache lines of their own, so that reading them
    // does not wait for the other threads' writes.
    alignas(64) QByteArray home; // the home journal, whose lock and list hold for every folder
    QByteArray root;
    QByteArray dir;        // the entry's folder
    journal::Fd dirHandle; // open on it, so that each file's name is made without a path walk
    QByteArray cwd;        // where relative names of this run start
    qint64 number = -1;
    dev_t device = 0;
    bool canSwap = false;
    uid_t euid = ::geteuid(); // root links a descriptor itself, anyone else through /proc
    Durability durability = Durability::AtEnd;
    qint64 budget = 0;
    journal::Fd busy; // held shared for as long as the run goes on
    QString problem;
    QString notice;
    bool finished = false;

    // Changed by every file.
    alignas(64) std::mutex mutex;
    journal::Fd manifest; // open for writing, and locked for as long as the run goes on
    // Where the manifest's records end: only this run writes it while it
    // goes on, so the end a failed append is cut back to is known without
    // asking.
    off_t manifestEnd = 0;
    // The records go into the manifest through a shared mapping where the
    // file system gives the file room ahead (fallocate): a record is then a
    // copy into memory, in the file for anyone reading it at once and kept
    // through a kill, rather than a system call per file. Past the room, or
    // where there is none, each record is written.
    char *records = nullptr;
    off_t room = 0; // the file's length, records and zeros ahead of them
    bool canGrow = true;
    std::atomic<int> seq{0};
    qint64 used = 0;                                  // this run's kept bytes
    std::vector<std::pair<QByteArray, qint64>> older; // earlier entries, oldest first
    int live = 0;                                     // files recorded as rewritten
    std::atomic<bool> missed{false};                  // a file was rewritten while the journal could not be written
    std::atomic<bool> copied{false};                  // a file was kept by a copy, not yet on the disk

    // Room for one more file: the oldest runs give way first. False when the
    // file cannot have it; *why then says so.
    bool reserve(qint64 size, QString *why);
    void release(qint64 size);
    // Appends one record whole or not at all: a line cut short by a full
    // disk is cut off again, so the next one is not read as its rest.
    IoStatus append(const journal::Record &record, bool syncNow, int liveChange);
    // After the header: room ahead, and the mapping. Without either the
    // records are written.
    void mapRecords();
    // The manifest cut back to its records (under the mutex, at the end).
    void unmapRecords();
    ~Shared() { unmapRecords(); }

private:
    bool roomFor(off_t end);
};

} // namespace vexalo
