// SPDX-License-Identifier: MIT
// The file list: its selection commands, its pop-up menu, the viewer it opens,
// and renaming the selected files to upper or lower case.
#include "frmMain.h"

#include "FileListModel.h"
#include "engine/files/FileNames.h"
#include "engine/files/FileOps.h"
#include "platform/FileSystemPlaces.h"
#include "ui/common/ScreenPlacement.h"
#include "ui/common/Twips.h"
#include "ui/frmViewer/frmViewer.h"

#include <QItemSelectionModel>
#include <QListView>
#include <QMenu>

#include <algorithm>

// The viewer's file and the case conversion's names are FilePaths: through
// these, a name that is not UTF-8 would name another file.
#pragma GCC poison QFile QFileInfo QDir QSaveFile

QStringList frmMain::selectedFileNames() const
{
    QList<int> rows;
    for (const QModelIndex &index : lstFiles->selectionModel()->selectedIndexes())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    QStringList names;
    names.reserve(rows.size());
    for (int row : std::as_const(rows))
        names << m_files->names().at(row);
    return names;
}

void frmMain::cmdSelectAllClick()
{
    const int n = m_files->rowCount();
    if (n == 0)
        return;
    // One range instead of n single selections keeps 100,000 entries instant.
    lstFiles->selectionModel()->select(QItemSelection(m_files->index(0), m_files->index(n - 1)),
                                       QItemSelectionModel::Select);
}

void frmMain::cmdClearClick()
{
    lstFiles->selectionModel()->clearSelection();
}

void frmMain::mnuSelectAllClick()
{
    cmdSelectAllClick();
}

void frmMain::mnuUnSelectAllClick()
{
    cmdClearClick();
}

void frmMain::lstFilesMouseUp(Qt::MouseButton button, const QPoint &position)
{
    if (button == Qt::RightButton)
        mnuPopUpCase->popup(lstFiles->viewport()->mapToGlobal(position));
}

void frmMain::lstFilesClick()
{
    // A click follows the file in an open viewer but never opens one.
    if (m_viewer && m_viewer->isVisible())
        loadCurrentFileIntoViewer();
}

void frmMain::lstFilesDblClick()
{
    // A file the viewer would refuse opens no empty viewer with a Save button.
    if (refusedByViewer())
        return;
    if (!m_viewer)
        m_viewer = new frmViewer(m_services);
    m_viewer->show();
    const twips::WindowGeometry main = twips::outerGeometry(this);
    float left = main.left + main.width + 200;
    float top = main.top;
    // Beside a wide main window, or one near the right edge, the viewer would
    // open mostly off the screen; it is moved onto it instead. Until the
    // window manager has framed it, it will wear the main window's frame.
    QSize outerSize = m_viewer->frameGeometry().size();
    if (outerSize == m_viewer->size())
        outerSize += frameGeometry().size() - size();
    const QRect beside(twips::toPixels(left), twips::toPixels(top), outerSize.width(), outerSize.height());
    const QRect placed = placement::ontoScreen(beside, placement::workAreas());
    if (placed != beside) {
        left = twips::fromPixels(placed.left());
        top = twips::fromPixels(placed.top());
    }
    twips::setOuterPosition(m_viewer, left, top);
    loadCurrentFileIntoViewer();
}

bool frmMain::refusedByViewer()
{
    const QModelIndex current = lstFiles->currentIndex();
    if (!current.isValid())
        return false;
    const QString refusal = frmViewer::tooLargeMessage(
        vexalo::FilePath::fromString(m_dir1Path) / vexalo::FilePath::fromString(m_files->names().at(current.row())));
    if (refusal.isEmpty())
        return false;
    showMessage(refusal, tr("Viewer"), MessageRequest::Icon::Exclamation);
    return true;
}

void frmMain::loadCurrentFileIntoViewer()
{
    if (refusedByViewer())
        return;
    const QModelIndex current = lstFiles->currentIndex();
    if (!current.isValid() || !m_viewer)
        return;
    const vexalo::FilePath path =
        vexalo::FilePath::fromString(m_dir1Path) / vexalo::FilePath::fromString(m_files->names().at(current.row()));
    QString error;
    if (!m_viewer->loadFile(path, &error))
        reportViewerFailure(path, error);
}

void frmMain::reportViewerFailure(const vexalo::FilePath &path, const QString &reason)
{
    showMessage(tr("Cannot read \"%1\": %2").arg(path.display(), reason), tr("Viewer"),
                MessageRequest::Icon::Exclamation);
}

void frmMain::cmdUpperClick()
{
    mnuUpperCaseClick();
}

void frmMain::cmdLowerClick()
{
    mnuLowerCaseClick();
}

void frmMain::mnuUpperCaseClick()
{
    convertCase(true, tr("Upper Case"));
}

void frmMain::mnuLowerCaseClick()
{
    convertCase(false, tr("Lower Case"));
}

void frmMain::convertCase(bool toUpper, const QString &title)
{
    const QStringList names = selectedFileNames();
    if (names.isEmpty()) {
        showMessage(tr("No files selected!"), title, MessageRequest::Icon::Critical);
        return;
    }
    m_services.places->setWorkingFolder(m_dir1Path, nullptr);
    const vexalo::FilePath folder = vexalo::FilePath::fromString(m_dir1Path);

    // A failed rename (a name taken by another file, no permission, the file
    // gone) is collected and the pass goes on, so one bad file spoils nothing.
    QStringList failures;
    for (const QString &listed : names) {
        const vexalo::FilePath name = vexalo::FilePath::fromString(listed);
        const vexalo::FilePath target = vexalo::FilePath::fromString(vexalo::changeCase(listed, toUpper));
        if (target == name)
            continue;
        const vexalo::IoStatus status = vexalo::renameNoReplace(folder, name, target);
        if (!status.ok())
            failures << tr("%1 → %2: %3").arg(name.display(), target.display(), status.error);
    }
    m_files->refresh();
    if (!failures.isEmpty())
        showMessage(tr("These files were not renamed:\n%1").arg(failures.join(QLatin1Char('\n'))), title,
                    MessageRequest::Icon::Exclamation);
}
