// SPDX-License-Identifier: MIT
#include "CliRun.h"

#include "engine/files/FileNames.h"
#include "engine/files/FileOps.h"
#include "engine/journal/Journal.h"
#include "engine/files/ProtectedList.h"
#include "engine/text/TextTools.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <algorithm>

#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>

namespace vexalo::cli {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CliRun", text);
}

// Files given one after another in the same folder make one engine run, so
// the order given is kept and a folder is entered once per stretch.
struct Stretch {
    FilePath folder;
    QList<FilePath> names;
    QList<qsizetype> argIndex; // where each name came from on the command line
};

QList<Stretch> stretchesOf(const QStringList &files)
{
    QList<Stretch> stretches;
    for (qsizetype i = 0; i < files.size(); ++i) {
        // The argument's bytes again: the one conversion of a name given.
        const FilePath path = FilePath::fromString(files.at(i));
        FilePath folder = path.folder();
        FilePath name = path.fileName();
        if (name.isEmpty()) {
            // "dir/" names a folder, not a file; the engine reports it by
            // the path as given rather than by an empty name.
            folder = FilePath();
            name = path;
        }
        if (stretches.isEmpty() || stretches.last().folder != folder)
            stretches.append({folder, {}, {}});
        stretches.last().names.append(name);
        stretches.last().argIndex.append(i);
    }
    return stretches;
}

QString outputFailure(const QIODevice *out)
{
    return tr("the results could not be written to the standard output: %1").arg(out->errorString());
}

// Text that is the whole output (help, version): written and flushed at once,
// so a failure can still change the exit status.
bool writeAll(QIODevice *out, const QByteArray &text)
{
    bool ok = out->write(text) == text.size();
    if (auto *file = qobject_cast<QFile *>(out))
        ok = file->flush() && ok;
    return ok;
}

int reportOutputFailure(const QString &message, CliStreams &streams)
{
    streams.err->write((QStringLiteral("vexalo4-cli: ") + message + QLatin1Char('\n')).toUtf8());
    if (auto *file = qobject_cast<QFile *>(streams.err))
        file->flush();
    return ExitFailed;
}

class Reporter {
public:
    Reporter(const CliRequest &request, CliStreams &streams, qsizetype total)
        : m_request(request)
        , m_streams(streams)
        , m_total(total)
    {
        m_clock.start();
    }

    // The line of each file is held back until the next one is done, so that
    // the last line can wait for the sync that puts the run on the disk.
    void fileDone(FileResult result, qsizetype argIndex)
    {
        ++m_done;
        switch (result.outcome) {
        case Outcome::Replaced: ++m_changed; break;
        case Outcome::Restored: ++m_changed; break;
        case Outcome::Failed: ++m_failed; break;
        default: break;
        }
        if (m_request.fullPaths)
            result.name = FilePath::fromString(m_request.files.at(argIndex));
        flushPending();
        m_pending = std::move(result);
        m_hasPending = true;
        if (m_streams.showProgress)
            maybeShowProgress();
    }

    void flushPending()
    {
        if (!m_hasPending)
            return;
        m_hasPending = false;
        if (m_request.dryRun)
            m_results.append(m_pending); // only a preview's summary needs them
        // A quiet preview still gives its summary, which holds the failures.
        if (m_request.quiet && (m_pending.outcome != Outcome::Failed || m_request.dryRun))
            return;
        clearProgress();
        m_lines += logLine(m_pending).toUtf8();
        m_lines += '\n';
        // A terminal shows each line as it comes; a pipe or file gets them in
        // large writes.
        if (m_streams.outIsTerminal || m_lines.size() >= 64 * 1024)
            writeLines();
    }

    void writeLines()
    {
        if (m_lines.isEmpty())
            return;
        if (m_streams.out->write(m_lines) != m_lines.size())
            outputFailed();
        if (m_streams.outIsTerminal)
            flushOut();
        m_lines.clear();
    }

    void error(const QString &message)
    {
        clearProgress();
        writeLines();
        flushOut();
        m_streams.err->write((QStringLiteral("vexalo4-cli: ") + message + QLatin1Char('\n')).toUtf8());
        flushDevice(m_streams.err);
    }

    void finish()
    {
        flushPending();
        if (m_request.dryRun) {
            clearProgress();
            m_lines += previewSummary(m_results).toUtf8();
            m_lines += '\n';
        }
        writeLines();
        flushOut();
        if (m_progressShown) {
            clearProgress();
            m_streams.err->write(summary().toUtf8() + '\n');
            flushDevice(m_streams.err);
        }
    }

    // Called on the thread that waits for a file another program keeps
    // locked (its path), and with an empty path once none waits: the
    // progress line says what the run waits for, or it would look hung.
    void waiting(const QString &path)
    {
        std::lock_guard lock(m_terminal);
        m_waiting = !path.isEmpty();
        if (!m_streams.showProgress || !m_waiting)
            return;
        m_progressShown = true;
        m_progressVisible = true;
        m_streams.err->write("\r\x1b[K"
                             + tr("waiting for another program to let go of %1 (at most a minute for the whole run)")
                                   .arg(displayName(path))
                                   .toUtf8());
        flushDevice(m_streams.err);
    }

    qsizetype failed() const { return m_failed; }
    qsizetype done() const { return m_done; }
    // Why the results did not all reach the output (a full disk, a closed
    // pipe); empty when they did.
    QString outputError() const { return m_outputError; }

private:
    static void flushDevice(QIODevice *device)
    {
        if (auto *file = qobject_cast<QFile *>(device))
            file->flush();
    }

    void flushOut()
    {
        if (auto *file = qobject_cast<QFile *>(m_streams.out); file && !file->flush())
            outputFailed();
    }

    void outputFailed()
    {
        if (m_outputError.isEmpty())
            m_outputError = outputFailure(m_streams.out);
    }

    QString summary() const
    {
        const QString changedWord = m_request.command == Command::Replace ? tr("replaced") : tr("restored");
        return QCoreApplication::translate("CliRun", "%1 of %Ln files done: %2 %3, %4 failed", nullptr, int(m_total))
            .arg(m_done)
            .arg(m_changed)
            .arg(changedWord)
            .arg(m_failed);
    }

    void maybeShowProgress()
    {
        std::lock_guard lock(m_terminal);
        // Short runs stay quiet; a long one updates a few times a second.
        // A line that says what the run waits for stays until the wait ends.
        const qint64 now = m_clock.elapsed();
        if (m_waiting || now < 300 || now - m_lastProgress < 100)
            return;
        m_lastProgress = now;
        m_progressShown = true;
        m_progressVisible = true;
        m_streams.err->write("\r\x1b[K" + summary().toUtf8());
        flushDevice(m_streams.err);
    }

    void clearProgress()
    {
        std::lock_guard lock(m_terminal);
        if (!m_progressVisible)
            return;
        m_progressVisible = false;
        m_streams.err->write("\r\x1b[K");
        flushDevice(m_streams.err);
    }

    const CliRequest &m_request;
    CliStreams &m_streams;
    qsizetype m_total = 0;
    qsizetype m_done = 0;
    qsizetype m_changed = 0;
    qsizetype m_failed = 0;
    FileResult m_pending;
    bool m_hasPending = false;
    QList<FileResult> m_results; // for a preview's summary
    QByteArray m_lines;
    QElapsedTimer m_clock;
    qint64 m_lastProgress = 0;
    bool m_progressShown = false;
    bool m_progressVisible = false;
    bool m_waiting = false;
    std::mutex m_terminal; // the progress line, also written by a thread that waits
    QString m_outputError;
};

// Small files cost mostly system calls, which overlap well on several cores
// and on a disk's queue; large files are read in blocks and overlap too.
int parallelFiles()
{
    return std::clamp(QThread::idealThreadCount(), 2, 8);
}

bool mayHaveWritten(Outcome outcome)
{
    // A failed file may still have had its backup written.
    return outcome == Outcome::Replaced || outcome == Outcome::Restored || outcome == Outcome::Failed;
}

// The folder a run's journal entry names: the one its files share, as far
// as their folders agree.
FilePath commonFolder(const QList<Stretch> &stretches)
{
    QByteArrayList common;
    bool first = true;
    for (const Stretch &stretch : stretches) {
        if (stretch.folder.isEmpty())
            continue;
        const QByteArrayList parts = stretch.folder.bytes().split('/');
        if (first) {
            common = parts;
            first = false;
            continue;
        }
        qsizetype same = 0;
        while (same < common.size() && same < parts.size() && common.at(same) == parts.at(same))
            ++same;
        common = common.mid(0, same);
    }
    if (common.isEmpty())
        return FilePath::fromBytes(".");
    const QByteArray joined = common.join('/');
    return FilePath::fromBytes(joined.isEmpty() ? QByteArray("/") : joined);
}

// "run 12  2026-12-09 04:30:12  3 files kept  /home/ann/site": the folder
// last, since it may hold blanks. Runs are numbered in the order they began;
// the time is the clock's, which may have been set back between two runs.
// A second line says which journal folder keeps the run, since deleting it
// is how a journal is emptied.
QString journalLine(const JournalEntry &entry)
{
    QString line = tr("run %1").arg(entry.run >= 0 ? QString::number(entry.run) : entry.id) + QStringLiteral("  ");
    if (!entry.notMounted.isEmpty())
        return line
            + tr("kept on %1, which is not mounted now; mount it to see its runs").arg(entry.notMounted.display());
    const QString keptIn = QStringLiteral("\n    ") + tr("kept in %1").arg(entry.root.display());
    if (!entry.unreadable.isEmpty())
        return line + tr("cannot be read: %1").arg(entry.unreadable) + keptIn;
    line += entry.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral("  ")
        + (entry.files == 1 ? tr("1 file kept") : tr("%1 files kept").arg(entry.files));
    if (entry.unkept > 0)
        line += tr(" (%1 more cannot be undone)").arg(entry.unkept);
    if (entry.damaged > 0)
        line += tr(" (%1 records cannot be read)").arg(entry.damaged);
    if (entry.running)
        line += tr(" (still going on)");
    return line + QStringLiteral("  ") + entry.folder.display() + keptIn;
}

int runUndo(const CliRequest &request, CliStreams &streams)
{
    const Journal journal;
    if (request.list) {
        QString error;
        const QList<JournalEntry> entries = journal.entries(&error);
        if (!error.isEmpty())
            return reportOutputFailure(tr("the journal cannot be read: %1").arg(error), streams);
        QByteArray text;
        for (const JournalEntry &entry : entries)
            text += journalLine(entry).toUtf8() + '\n';
        if (!writeAll(streams.out, text))
            return reportOutputFailure(outputFailure(streams.out), streams);
        return ExitOk;
    }
    const std::optional<JournalEntry> last = journal.lastRun();
    // The journal names every file by its whole path; the lines name it as a
    // replace run's lines do, unless --paths asks for the path.
    CliRequest shown = request;
    shown.fullPaths = false;
    Reporter reporter(shown, streams, last ? last->files + last->unkept : 0);
    RunControl control;
    control.durability = request.durability;
    control.stopRequested = streams.stopRequested;
    control.fileDone = [&](const FileResult &result, int) {
        FileResult line = result;
        if (!request.fullPaths)
            line.name = result.name.fileName();
        reporter.fileDone(line, 0);
    };
    const UndoResult result = journal.undoLast(control);
    reporter.finish();
    if (result.refused) {
        reporter.error(result.message);
        return ExitFailed;
    }
    // Records that could not be read: said, and the run is not undone whole.
    if (!result.message.isEmpty())
        reporter.error(result.message);
    const QString outputError = reporter.outputError();
    if (!outputError.isEmpty())
        reporter.error(outputError);
    if (result.summary.stopped) {
        reporter.error(QCoreApplication::translate("CliRun", "stopped: %1 of %Ln files were not processed", nullptr,
                                                   int(last->files + last->unkept))
                           .arg(last->files + last->unkept - reporter.done()));
        return ExitStopped;
    }
    return reporter.failed() > 0 || !outputError.isEmpty() || !result.message.isEmpty() ? ExitFailed : ExitOk;
}

} // namespace

bool useEnglishOutput(const QString &translationsFolder)
{
    QLocale::setDefault(QLocale::c());
    static QTranslator plurals;
    if (!plurals.load(QStringLiteral("vexalo_en"), translationsFolder))
        return false;
    QCoreApplication::installTranslator(&plurals);
    return true;
}

int runRequest(const CliRequest &request, const QString &programFolder, CliStreams &streams)
{
    if (request.command == Command::Help || request.command == Command::Version) {
        const QString text = request.command == Command::Help ? helpText(request.helpTopic) : versionText();
        if (!writeAll(streams.out, text.toUtf8()))
            return reportOutputFailure(outputFailure(streams.out), streams);
        return ExitOk;
    }

    if (request.command == Command::Undo)
        return runUndo(request, streams);

    const QList<Stretch> stretches = stretchesOf(request.files);
    Reporter reporter(request, streams, request.files.size());

    ReplaceJob replaceTemplate;
    if (request.command == Command::Replace) {
        replaceTemplate.findText = request.trim ? trimTrailingBreaks(request.findText) : request.findText;
        replaceTemplate.replaceText = request.trim ? trimTrailingBreaks(request.replaceText) : request.replaceText;
        replaceTemplate.caseSensitive = request.caseSensitive;
        replaceTemplate.makeBackups = request.makeBackups;
        replaceTemplate.preview = request.dryRun;
        replaceTemplate.exactBreaks = request.exactBreaks;
        replaceTemplate.regex = request.regex;
        if (request.protectedExtensions) {
            replaceTemplate.protectedExtensions = *request.protectedExtensions;
        } else {
            // An exception.txt that is there but cannot be read holds the
            // user's protection: no file is touched without it.
            const ProtectedList list = loadProtectedList(programFolder);
            if (!list.ok()) {
                streams.err->write((QStringLiteral("vexalo4-cli: ") + list.error
                                    + tr("; no file was changed (--protect gives a list instead)") + QLatin1Char('\n'))
                                       .toUtf8());
                return ExitUsage;
            }
            replaceTemplate.protectedExtensions = list.extensions;
        }
    }

    // With --sync each the engine syncs every file; otherwise the folders
    // written to are synced here once, at the end, across all stretches.
    const bool syncAtEnd = request.durability == Durability::AtEnd;
    QList<FilePath> foldersWritten;
    // What Undo needs; a preview writes nothing, so it keeps nothing.
    std::unique_ptr<JournalRun> journal;
    if (request.command == Command::Replace && !request.dryRun && !request.noJournal)
        journal = Journal().record(commonFolder(stretches), request.durability);
    bool stopped = false;
    // One period of waiting for other programs' locks for the whole command,
    // over all its folders.
    const auto lockWaits = std::make_shared<LockWaits>();
    lockWaits->onWait = [&reporter](const QString &path) { reporter.waiting(path); };

    for (const Stretch &stretch : stretches) {
        // The engine asks between two files of one folder only: with a file
        // or two per folder it would never ask, so the stop is also asked
        // here, between folders.
        if (&stretch != &stretches.first() && streams.stopRequested && streams.stopRequested()) {
            stopped = true;
            break;
        }
        RunControl control;
        control.durability = syncAtEnd ? Durability::None : request.durability;
        control.stopRequested = streams.stopRequested;
        control.parallelFiles = parallelFiles();
        control.lockWaits = lockWaits;
        bool wrote = false;
        control.fileDone = [&](const FileResult &result, int index) {
            wrote = wrote || (!request.dryRun && mayHaveWritten(result.outcome));
            reporter.fileDone(result, stretch.argIndex.at(index));
        };
        RunSummary summary;
        if (request.command == Command::Replace) {
            ReplaceJob job = replaceTemplate;
            job.folder = stretch.folder;
            job.names = stretch.names;
            job.journal = journal.get();
            summary = runReplace(job, control);
        } else {
            summary = runRestore({stretch.folder, stretch.names}, control);
        }
        if (wrote)
            foldersWritten.append(stretch.folder.isEmpty() ? FilePath::fromBytes(".") : stretch.folder);
        if (summary.stopped) {
            stopped = true;
            break;
        }
    }

    if (journal)
        journal->finish();

    QStringList syncErrors;
    if (syncAtEnd && !foldersWritten.isEmpty()) {
        // One sync per file system, not per folder.
        std::set<dev_t> synced;
        for (const FilePath &folder : std::as_const(foldersWritten)) {
            struct stat info {};
            // Nothing can have been written in a folder that is not there (a
            // file named in a folder that does not exist only failed).
            if (::stat(folder.c_str(), &info) != 0 || !synced.insert(info.st_dev).second)
                continue;
            const IoStatus status = syncFileSystemOf(folder);
            if (!status.ok())
                syncErrors.append(tr("the changes in %1 may not be on the disk yet: the disk could not be synced: %2")
                                      .arg(folder.display(), status.error));
        }
    }

    reporter.finish();
    for (const QString &message : std::as_const(syncErrors))
        reporter.error(message);
    // Said once, and no failure of the run: every file was still replaced.
    if (journal && !journal->notice().isEmpty())
        reporter.error(journal->notice());
    if (journal && !journal->problem().isEmpty())
        reporter.error(journal->problem());
    // Results that did not reach the output leave the user not knowing what
    // happened to the files: never a success.
    const QString outputError = reporter.outputError();
    if (!outputError.isEmpty())
        reporter.error(outputError);
    if (stopped) {
        reporter.error(QCoreApplication::translate("CliRun", "stopped: %1 of %Ln files were not processed", nullptr,
                                                   int(request.files.size()))
                           .arg(request.files.size() - reporter.done()));
        return ExitStopped;
    }
    return reporter.failed() > 0 || !syncErrors.isEmpty() || !outputError.isEmpty() ? ExitFailed : ExitOk;
}

int runCommandLine(const QStringList &arguments, const QString &programFolder, CliStreams &streams,
                   const TextFileReader &readText)
{
    const ParseResult parsed = parseCommandLine(arguments, readText);
    if (!parsed.ok()) {
        streams.err->write(
            // The message may quote an argument; undecodable bytes in it are shown readably.
            (QStringLiteral("vexalo4-cli: ") + displayName(parsed.error) + QLatin1Char('\n')
             + tr("Try 'vexalo4-cli --help' for more information.") + QLatin1Char('\n'))
                .toUtf8());
        return ExitUsage;
    }
    CliStreams effective = streams;
    if (parsed.request.noProgress)
        effective.showProgress = false;
    return runRequest(parsed.request, programFolder, effective);
}

} // namespace vexalo::cli
