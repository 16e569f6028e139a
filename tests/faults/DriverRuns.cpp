// SPDX-License-Identifier: MIT
#include "DriverRuns.h"

#include "engine/files/FileOps.h"
#include "engine/files/ProtectedList.h"
#include "engine/journal/Journal.h"
#include "engine/runs/Runs.h"

namespace faults {

using namespace vexalo;

namespace {

RunControl controlFor(const QString &flags, const LineSink &line)
{
    RunControl control;
    control.fileDone = [line](const FileResult &r, int) { line(logLine(r)); };
    control.durability = flags.contains('e') ? Durability::EachFile
        : flags.contains('n')                ? Durability::None
                                             : Durability::AtEnd;
    if (flags.contains('p'))
        control.parallelFiles = 4;
    if (flags.contains('k'))
        setBlockReadingForTests(0, 4);
    return control;
}

} // namespace

int runEngineCommand(const QStringList &arguments, const LineSink &line, const LineSink &error)
{
    const QString command = arguments.value(0);
    if (command == QLatin1String("replace") && arguments.size() >= 5) {
        const QString flags = arguments[4];
        ReplaceJob job;
        job.folder = FilePath::fromString(arguments[1]);
        job.findText = arguments[2];
        job.replaceText = arguments[3];
        job.caseSensitive = flags.contains('c');
        job.makeBackups = flags.contains('b');
        job.preview = flags.contains('v');
        job.protectedExtensions = defaultProtectedExtensions();
        job.names = FilePath::fromStrings(arguments.mid(5));
        const RunControl control = controlFor(flags, line);
        std::unique_ptr<JournalRun> journal;
        if (flags.contains('j')) {
            journal = Journal().record(job.folder, control.durability);
            job.journal = journal.get();
        }
        runReplace(job, control);
        if (journal) {
            journal->finish();
            if (!journal->problem().isEmpty())
                error(journal->problem());
        }
        return 0;
    }
    if (command == QLatin1String("undo") && arguments.size() >= 2) {
        const UndoResult result = Journal().undoLast(controlFor(arguments[1], line));
        if (result.refused)
            line(QStringLiteral("refused: ") + result.message);
        else if (!result.message.isEmpty())
            error(result.message);
        return result.refused ? 1 : 0;
    }
    if (command == QLatin1String("restore") && arguments.size() >= 3) {
        runRestore({FilePath::fromString(arguments[1]), FilePath::fromStrings(arguments.mid(3))},
                   controlFor(arguments[2], line));
        return 0;
    }
    return -1;
}

} // namespace faults
