// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace vexalo {

class JournalRun;

enum class Outcome {
    Replaced,
    NotFound,
    Protected,
    Restored,
    NotRestored,
    Failed, // the file keeps its old content; reason says why
    Matched, // a preview's file that a Replace would change; matches says how often
};

struct FileResult {
    QString name; // exactly as it was given
    Outcome outcome = Outcome::Failed;
    QString reason; // only for Failed: the system's or the program's reason
    qsizetype matches = 0; // only for Matched
    bool binary = false;   // only for Matched: the content holds NUL bytes
    QString notUndoable;   // only for Replaced: why the journal could not keep the file
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
    // after another. A stop lets the files already begun finish (they are
    // reported) and begins no others.
    int parallelFiles = 1;
};

struct RunSummary {
    QList<FileResult> results; // one per processed name, in order
    bool stopped = false;      // the names after the last result were not touched
};

struct ReplaceJob {
    QString folder;     // names are resolved here
    QStringList names;  // plain names, processed in this order
    QString findText;
    QString replaceText;
    bool caseSensitive = false;
    bool makeBackups = false;
    QString protectedExtensions;
    // A line break in either text (LF or CR LF) is matched and written as the
    // file's own (lineBreaksOf), unless this asks for the texts' bytes exactly
    // as given. The file's other line breaks are never changed either way.
    bool exactBreaks = false;
    // Makes every check a Replace makes, up to the point where it would make
    // the backup, and stops there: nothing is written, and a file a Replace
    // would change reports Matched with its count.
    bool preview = false;
    // Where the run keeps what Undo needs; none: the run cannot be undone.
    JournalRun *journal = nullptr;
};

struct RestoreJob {
    QString folder;
    QStringList names;
};

RunSummary runReplace(const ReplaceJob &job, const RunControl &control = {});
// For tests only: files larger than wholeFileLimit bytes are read in blocks
// of blockSize bytes (even, at least 2) rather than as the program chooses;
// a negative value restores the program's choice. Not for use during a run.
void setBlockReadingForTests(qint64 wholeFileLimit, qint64 blockSize);
RunSummary runRestore(const RestoreJob &job, const RunControl &control = {});

// "name:  replaced" and so on; a failed file reads "name:  failed: reason".
// The name is shown readably (displayName), so it is for people, not for opening.
QString logLine(const FileResult &result);
// The lines joined by CR LF, with none after the last.
QString buildLog(const QList<FileResult> &results);

// The closing line of a preview: files, matches and the files that would fail.
QString previewSummary(const QList<FileResult> &results);

} // namespace vexalo
