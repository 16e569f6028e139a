// SPDX-License-Identifier: MIT
#pragma once

// The words every run reports in (a file's outcome, the run's summary, how it
// is steered and how durable it is), below the runs and the journal, so that
// both can speak them and neither needs the other's header.

#include "engine/files/FilePath.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace vexalo {

class LockWaits; // engine/files/FileOps.h

enum class Outcome {
    Replaced,
    NotFound,
    Protected,
    Restored,
    NotRestored,
    Failed,  // the file keeps its old content; reason says why
    Matched, // a preview's file that a Replace would change; matches says how often
};

struct FileResult {
    FilePath name; // exactly as it was given
    Outcome outcome = Outcome::Failed;
    QString reason;        // for Failed: the system's or the program's reason; for NotFound, why it cannot occur
    qsizetype matches = 0; // only for Matched
    bool binary = false;   // only for Matched: the content holds NUL bytes
    QString notUndoable{}; // only for Replaced: why the journal could not keep the file
};

// What the caller can rely on once a run has returned: with EachFile every
// rewritten file is on the disk before its result is reported; with AtEnd the
// file systems written to are synced once before the last result is reported.
enum class Durability { EachFile, AtEnd, None };

struct RunControl {
    // Called as soon as a file is done, in the order of the names.
    std::function<void(const FileResult &result, int index)> fileDone;
    // Asked between two files; true stops the run there.
    std::function<bool()> stopRequested;
    Durability durability = Durability::AtEnd;
    // How many files may be in work at once. Above one, a run over many small
    // files keeps every core and the disk busy; the callbacks are still made
    // on the calling thread, results in the order of the names. Files read at
    // the same time stay within a small memory budget; a large file is read
    // in blocks, so large files are worked on side by side too. Files that touch a common file (a file and its backup,
    // two names of one file) are still worked on in the order of the names,
    // so the results and the files afterwards are those of a run one file
    // after another. A stop lets the files already taken finish (they are
    // reported): the one in work and, of small files, at most the few dozen
    // a worker takes at once; it begins no others.
    int parallelFiles = 1;
    // The one period for which the run's files wait, together, for locks
    // other programs hold (a preview never waits); its onWait tells what is
    // waited for. Runs that are one to the user (the command line's, one per
    // folder) share one. None: the run has a minute of its own.
    std::shared_ptr<LockWaits> lockWaits;
};

struct RunSummary {
    QList<FileResult> results; // one per processed name, in order
    bool stopped = false;      // the names after the last result were not touched
};

} // namespace vexalo
