// SPDX-License-Identifier: MIT
#pragma once

// engine/runs: Replace, Restore and Preview over a list of names, and the
// scheduler that works on several files at once. The top of the engine: may
// use every folder below it, and nothing uses it but the programs.

#include "engine/files/FilePath.h"
#include "engine/files/Results.h"

#include <QList>
#include <QString>

#include <functional>

namespace vexalo {

class JournalRun;

struct ReplaceJob {
    FilePath folder;       // names are resolved here
    QList<FilePath> names; // plain names, processed in this order
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
    // The find text is a regular expression (PCRE2), the replace text may use
    // its groups: $1, ${1}, ${name}, $$. Check it with RegexProgram first: a
    // run with a pattern that does not compile fails every file untouched.
    bool regex = false;
    // Where the run keeps what Undo needs; none: the run cannot be undone.
    JournalRun *journal = nullptr;
};

struct RestoreJob {
    FilePath folder;
    QList<FilePath> names;
};

RunSummary runReplace(const ReplaceJob &job, const RunControl &control = {});
// For tests only: files larger than wholeFileLimit bytes are read in blocks
// of blockSize bytes (even, at least 2) rather than as the program chooses;
// a negative value restores the program's choice. Not for use during a run.
void setBlockReadingForTests(qint64 wholeFileLimit, qint64 blockSize);
RunSummary runRestore(const RestoreJob &job, const RunControl &control = {});

// "name:  replaced" and so on; a failed file reads "name:  failed: reason".
// The name is shown readably (FilePath::display), so it is for people, not for opening.
QString logLine(const FileResult &result);
// The lines joined by CR LF, with none after the last.
QString buildLog(const QList<FileResult> &results);

// The closing line of a preview: files, matches and the files that would fail.
QString previewSummary(const QList<FileResult> &results);

} // namespace vexalo
