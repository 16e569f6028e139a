// SPDX-License-Identifier: MIT
#pragma once

// The scheduler of the runs: the names in order, one file after another or
// several at once, with the stop check, the memory budget and the durability
// promise. It knows nothing of what is done to a file.

#include "engine/files/FileOps.h"
#include "engine/files/Results.h"

#include <QList>

#include <functional>

#include <sys/stat.h>

namespace vexalo {

// What is done to one file; wrote tells the scheduler that something reached
// the disk (for the sync at the end). gate is told the memory the file takes.
// named: what the scheduler's look-up of the name found (lstat), to be
// shared rather than made again; null when it made none or found nothing.
using ProcessOne = std::function<FileResult(const FilePath &name, bool syncEach, bool *wrote, const ReadGate &gate,
                                            const struct stat *named)>;

// Runs processOne for each name in order, with the stop check between two
// files and the durability promise kept before the last result is reported.
// With more than one file in work at once (RunControl::parallelFiles), worker
// threads take the names in order, files that touch a common file wait for
// each other, and this thread reports each result as soon as all before it
// are reported. usesBackups: a file's backup counts as a file it touches.
RunSummary runEach(const FilePath &folder, const QList<FilePath> &names, const RunControl &control, bool usesBackups,
                   const ProcessOne &processOne);

} // namespace vexalo
