// SPDX-License-Identifier: MIT
// The two text fields and the Replace and Restore commands.
#include "frmMain.h"

#include "FileListModel.h"
#include "RunProgress.h"
#include "engine/files/ProtectedList.h"
#include "engine/files/FileNames.h"
#include "engine/runs/Runs.h"
#include "engine/text/RegexMatcher.h"
#include "engine/text/TextTools.h"
#include "platform/FileSystemPlaces.h"
#include "ui/frmViewer/frmViewer.h"

#include <QCheckBox>
#include <QLabel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// The field's text exactly as typed. toPlainText() would turn no-break spaces
// into blanks, so a search for them could never succeed.
QString fieldText(const QPlainTextEdit *field)
{
    QString text = field->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

} // namespace

void frmMain::txtFindStringChange()
{
    FindString = fieldText(txtFindString);
}

void frmMain::txtReplaceStringChange()
{
    ReplaceString = fieldText(txtReplaceString);
}

void frmMain::label1Click()
{
    swapTexts();
}

void frmMain::label2Click()
{
    swapTexts();
}

void frmMain::swapTexts()
{
    // Each write goes through the change handlers, so the mirrors follow.
    const QString replaceText = fieldText(txtReplaceString);
    txtReplaceString->setPlainText(fieldText(txtFindString));
    txtFindString->setPlainText(replaceText);
}

bool frmMain::selectionCheck(const QString &title)
{
    if (lstFiles->selectionModel()->hasSelection())
        return true;
    showMessage(tr("No files selected!"), title, MessageRequest::Icon::Critical);
    return false;
}

bool frmMain::protectedListCheck(const QString &title, bool preview)
{
    // Looked at again now: a list unreadable at start-up may have been
    // mended since, and a readable one may have become unreadable. Without
    // the user's own list no file is touched.
    const vexalo::ProtectedList list = vexalo::loadProtectedList(m_services.places->programFolder());
    if (!list.ok()) {
        ExceptionListError = list.error;
        // A Preview never changes a file; it says what it is.
        showMessage(preview ? tr("Preview did not start: %1.").arg(list.error)
                            : tr("Replace did not start, so no file was changed: %1.").arg(list.error),
                    title, MessageRequest::Icon::Critical);
        return false;
    }
    // A list that was read at start-up stays in force for the whole session.
    if (!ExceptionListError.isEmpty()) {
        ExceptionList = list.extensions;
        ExceptionListError.clear();
    }
    return true;
}

void frmMain::startRun()
{
    // The engine resolves names in the folder it is given; the working folder
    // follows for anything else that uses plain names.
    m_services.places->setWorkingFolder(m_dir1Path, nullptr);
    txtResults->clear();
}

void frmMain::recordRunFolder()
{
    txtLastFolder->setText(vexalo::displayName(m_dir1Path));
    vexalo::recordFolder(Folders, m_dir1Path);
}

void frmMain::finishRun(const vexalo::RunSummary &summary, const QString &closingLine)
{
    QString log = vexalo::buildLog(summary.results);
    if (summary.stopped) {
        const qsizetype left = selectedFileNames().size() - summary.results.size();
        log += QStringLiteral("\r\n") + tr("Stopped: %Ln files were not processed.", nullptr, int(left));
    }
    if (!closingLine.isEmpty())
        log += (log.isEmpty() ? QString() : QStringLiteral("\r\n")) + closingLine;
    showResults(log);
    if (m_viewer && m_viewer->isVisible()) {
        QString error;
        if (!m_viewer->reload(&error))
            reportViewerFailure(m_viewer->path(), error);
    }
}

void frmMain::cmdReplaceClick()
{
    if (!selectionCheck(tr("Find & Replace")) || !protectedListCheck(tr("Find & Replace"), false))
        return;
    if (!regularExpressionCheck(tr("Find & Replace"), fieldText(txtFindString), fieldText(txtReplaceString)))
        return;
    startRun();
    if (chkTrim->isChecked()) {
        // Written back only when something was cut, so an untrimmed field keeps its undo history.
        const QString find = vexalo::trimTrailingBreaks(fieldText(txtFindString));
        if (find != fieldText(txtFindString))
            txtFindString->setPlainText(find);
        const QString replace = vexalo::trimTrailingBreaks(fieldText(txtReplaceString));
        if (replace != fieldText(txtReplaceString))
            txtReplaceString->setPlainText(replace);
    }
    recordRunFolder();

    vexalo::ReplaceJob job = replaceJob(fieldText(txtFindString), fieldText(txtReplaceString));
    // What Undo Last Run needs. A journal that cannot be written stops no
    // run: the Results box says so once, at the end.
    const std::unique_ptr<vexalo::JournalRun> journal =
        m_journal.record(vexalo::FilePath::fromString(m_dir1Path), vexalo::Durability::AtEnd);
    job.journal = journal.get();
    const vexalo::RunSummary summary =
        RunProgress::run(this, tr("Replace"), int(job.names.size()), m_progressDelayMs,
                         [&](const vexalo::RunControl &control) { return vexalo::runReplace(job, control); });
    journal->finish();
    QStringList journalWords{journal->notice(), journal->problem()};
    journalWords.removeAll(QString());
    finishRun(summary, journalWords.join(QLatin1Char('\n')));
    updateUndo();
}

// A pattern that does not compile, or a replacement naming a group it does
// not have, is said before anything happens: no file is read or touched and
// the Results box keeps what it had. Checked on the texts as the run would
// take them (trimmed when asked).
bool frmMain::regularExpressionCheck(const QString &title, const QString &find, const QString &replace)
{
    if (!mnuRegularExpression->isChecked())
        return true;
    const bool trim = chkTrim->isChecked();
    const vexalo::RegexProgram program(trim ? vexalo::trimTrailingBreaks(find) : find,
                                       trim ? vexalo::trimTrailingBreaks(replace) : replace,
                                       chkCaseSensitive->isChecked());
    const std::optional<vexalo::RegexError> &error = program.error();
    if (!error)
        return true;
    const QString text = error->inReplacement
        ? tr("The replacement cannot be used: %1 (at character %2 of With This).")
        : tr("The regular expression cannot be used: %1 (at character %2 of Replace This).");
    // Counted from 1, as people count characters.
    showMessage(text.arg(error->message).arg(error->offset + 1), title, MessageRequest::Icon::Critical);
    return false;
}

void frmMain::mnuRegularExpressionClick()
{
    lblRegularExpression->setVisible(mnuRegularExpression->isChecked());
}

void frmMain::updateUndo()
{
    mnuUndo->setEnabled(m_journal.lastRun().has_value());
}

// Takes back the last Replace run, after saying which folder and how many
// files, and asking. A file is put back only while it still holds what the
// run wrote; every other file keeps what it has, and its line says why.
void frmMain::mnuUndoClick()
{
    const QString title = tr("Undo Last Run");
    QString why;
    const std::optional<vexalo::JournalEntry> last = m_journal.lastRun(&why);
    if (!last) {
        updateUndo();
        showMessage(why, title, MessageRequest::Icon::Information);
        return;
    }
    MessageRequest question;
    question.title = title;
    question.text = tr("Undo the Replace run of %1 in %2?\n\n%Ln files will get back what they held before it, "
                       "each only if it still holds exactly what the run wrote.",
                       nullptr, last->files)
                        .arg(QLocale().toString(last->time, QLocale::ShortFormat), last->folder.display());
    if (last->unkept > 0)
        question.text += QStringLiteral("\n") + tr("%Ln files of the run cannot be undone.", nullptr, last->unkept);
    question.buttons = MessageRequest::Buttons::OkCancel;
    // The button says what it does: "Undo" beside Cancel, not OK.
    question.okText = tr("Undo");
    question.icon = MessageRequest::Icon::Question;
    question.cancelIsDefault = true;
    if (m_services.messages->show(this, question) != MessageAnswer::Ok)
        return;

    txtResults->clear();
    vexalo::UndoResult undone;
    vexalo::RunSummary summary = RunProgress::run(this, title, last->files + last->unkept, m_progressDelayMs,
                                                  [&](const vexalo::RunControl &control) {
                                                      undone = m_journal.undoLast(control);
                                                      return undone.summary;
                                                  });
    // The lines name each file as Replace's lines do; the journal has its whole path.
    for (vexalo::FileResult &result : summary.results)
        result.name = result.name.fileName();
    QString text = vexalo::buildLog(summary.results);
    if (undone.refused)
        text = undone.message;
    else if (!undone.message.isEmpty())
        text += QStringLiteral("\r\n") + undone.message;
    if (!undone.refused && summary.stopped)
        text += QStringLiteral("\r\n")
            + tr("Stopped: %Ln files were not processed.", nullptr,
                 int(last->files + last->unkept - summary.results.size()));
    showResults(text);
    if (m_viewer && m_viewer->isVisible()) {
        QString error;
        if (!m_viewer->reload(&error))
            reportViewerFailure(m_viewer->path(), error);
    }
    updateUndo();
}

vexalo::ReplaceJob frmMain::replaceJob(const QString &findText, const QString &replaceText) const
{
    vexalo::ReplaceJob job;
    job.folder = vexalo::FilePath::fromString(m_dir1Path);
    job.names = vexalo::FilePath::fromStrings(selectedFileNames());
    job.findText = findText;
    job.replaceText = replaceText;
    job.caseSensitive = chkCaseSensitive->isChecked();
    job.regex = mnuRegularExpression->isChecked();
    job.makeBackups = chkBackup->isChecked();
    job.protectedExtensions = ExceptionList;
    return job;
}

// The same run as Replace with the same inputs, stopped before anything is
// written: no backup, no Folder history entry, no viewer reload. The fields
// keep their text even when Trim would cut it; the run uses the trimmed text.
void frmMain::mnuPreviewClick()
{
    if (!selectionCheck(tr("Preview")) || !protectedListCheck(tr("Preview"), true))
        return;
    QString find = fieldText(txtFindString);
    QString replace = fieldText(txtReplaceString);
    if (!regularExpressionCheck(tr("Preview"), find, replace))
        return;
    txtResults->clear();
    if (chkTrim->isChecked()) {
        find = vexalo::trimTrailingBreaks(find);
        replace = vexalo::trimTrailingBreaks(replace);
    }
    vexalo::ReplaceJob job = replaceJob(find, replace);
    job.preview = true;
    const vexalo::RunSummary summary =
        RunProgress::run(this, tr("Preview"), int(job.names.size()), m_progressDelayMs,
                         [&](const vexalo::RunControl &control) { return vexalo::runReplace(job, control); });
    QStringList lines;
    for (const vexalo::FileResult &result : summary.results)
        lines.append(vexalo::logLine(result));
    if (summary.stopped) {
        const qsizetype left = job.names.size() - summary.results.size();
        lines.append(tr("Stopped: %Ln files were not processed.", nullptr, int(left)));
    }
    QString closing = vexalo::previewSummary(summary.results);
    // Every file then reads "0 matches", and a Replace would change none.
    if (find.isEmpty())
        closing += tr(" (the text to find is empty)");
    lines.append(closing);
    showResults(lines.join(QLatin1Char('\n')));
}

void frmMain::showResults(QString log)
{
    // The log is joined by CR LF; the box shows the platform's line breaks.
    log.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    txtResults->setPlainText(log);
    // The last lines (a summary, a Stopped line, the journal's trouble) are
    // the ones to read; with more files than the box shows they would be
    // out of sight below.
    txtResults->moveCursor(QTextCursor::End);
    // The cursor in view is not yet the end in view where the last line wraps.
    txtResults->verticalScrollBar()->setValue(txtResults->verticalScrollBar()->maximum());
}

void frmMain::cmdRestoreClick()
{
    if (!selectionCheck(tr("Find & Replace")))
        return;
    startRun();
    recordRunFolder();

    vexalo::RestoreJob job;
    job.folder = vexalo::FilePath::fromString(m_dir1Path);
    job.names = vexalo::FilePath::fromStrings(selectedFileNames());
    finishRun(RunProgress::run(this, tr("Restore"), int(job.names.size()), m_progressDelayMs,
                               [&](const vexalo::RunControl &control) { return vexalo::runRestore(job, control); }));
}

void frmMain::cmdExitClick()
{
    close();
}
