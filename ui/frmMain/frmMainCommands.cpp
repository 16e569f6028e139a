// SPDX-License-Identifier: MIT
// The two text fields and the Replace and Restore commands.
#include "frmMain.h"

#include "FileListModel.h"
#include "engine/Runs.h"
#include "engine/TextTools.h"
#include "platform/FileSystemPlaces.h"
#include "ui/frmViewer/frmViewer.h"

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>

void frmMain::txtFindStringChange()
{
    FindString = txtFindString->toPlainText();
}

void frmMain::txtReplaceStringChange()
{
    ReplaceString = txtReplaceString->toPlainText();
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
    const QString replaceText = txtReplaceString->toPlainText();
    txtReplaceString->setPlainText(txtFindString->toPlainText());
    txtFindString->setPlainText(replaceText);
}

bool frmMain::selectionCheck(const QString &title)
{
    if (lstFiles->selectionModel()->hasSelection())
        return true;
    showMessage(tr("No files selected!"), title, MessageRequest::Icon::Critical);
    return false;
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
    txtLastFolder->setText(m_dir1Path);
    vexalo::recordFolder(Folders, txtLastFolder->text());
}

void frmMain::finishRun(const QString &log)
{
    // The log is joined by CR LF; the box shows the platform's line breaks.
    QString text = log;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    txtResults->setPlainText(text);
    if (m_viewer && m_viewer->isVisible()) {
        QString error;
        if (!m_viewer->reload(&error))
            reportViewerFailure(m_viewer->txtSave->text(), error);
    }
}

void frmMain::cmdReplaceClick()
{
    if (!selectionCheck(tr("Find & Replace")))
        return;
    startRun();
    const bool caseSensitive = chkCaseSensitive->isChecked();
    if (chkTrim->isChecked()) {
        // Written back only when something was cut, so an untrimmed field keeps its undo history.
        const QString find = vexalo::trimTrailingBreaks(txtFindString->toPlainText());
        if (find != txtFindString->toPlainText())
            txtFindString->setPlainText(find);
        const QString replace = vexalo::trimTrailingBreaks(txtReplaceString->toPlainText());
        if (replace != txtReplaceString->toPlainText())
            txtReplaceString->setPlainText(replace);
    }
    recordRunFolder();

    vexalo::ReplaceJob job;
    job.folder = m_dir1Path;
    job.names = selectedFileNames();
    job.findText = txtFindString->toPlainText();
    job.replaceText = txtReplaceString->toPlainText();
    job.caseSensitive = caseSensitive;
    job.makeBackups = chkBackup->isChecked();
    job.protectedExtensions = ExceptionList;
    finishRun(vexalo::buildLog(vexalo::runReplace(job).results));
}

void frmMain::cmdRestoreClick()
{
    if (!selectionCheck(tr("Find & Replace")))
        return;
    startRun();
    recordRunFolder();

    vexalo::RestoreJob job;
    job.folder = m_dir1Path;
    job.names = selectedFileNames();
    finishRun(vexalo::buildLog(vexalo::runRestore(job).results));
}

void frmMain::cmdExitClick()
{
    close();
}
