// SPDX-License-Identifier: MIT
// The small file browser: drive list, folder list, file list and pattern, and
// the way back to the folders of earlier runs.
#include "frmMain.h"

#include "FileListModel.h"
#include "engine/files/FileNames.h"
#include "engine/text/TextTools.h"
#include "platform/FileSystemPlaces.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QStyle>

namespace {

constexpr int folderPathRole = Qt::UserRole;
constexpr int folderDepthRole = Qt::UserRole + 1;

QStringList ancestorsOf(const QString &folder)
{
    QStringList chain;
    QString path = folder;
    while (true) {
        chain.prepend(path);
        if (path == QLatin1String("/"))
            break;
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        path = slash <= 0 ? QStringLiteral("/") : path.left(slash);
    }
    return chain;
}

} // namespace

QString frmMain::drive1Drive() const
{
    return Drive1->currentData().toString();
}

void frmMain::setDrive1Drive(const QString &path)
{
    const int index = Drive1->findData(m_services.places->driveOf(path));
    if (index < 0 || index == Drive1->currentIndex())
        return;
    Drive1->setCurrentIndex(index);
    drive1Change();
}

bool frmMain::setDir1Path(const QString &folder, QString *error)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    if (!FileListModel::canList(clean, error))
        return false;
    const bool changed = clean != m_dir1Path;
    fillDir1(clean);
    if (changed)
        dir1Change();
    return true;
}

void frmMain::fillDir1(const QString &folder)
{
    m_dir1Path = folder;
    Dir1->clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const QStringList chain = ancestorsOf(folder);
    QListWidgetItem *current = nullptr;
    for (qsizetype depth = 0; depth < chain.size(); ++depth) {
        const QString &path = chain[depth];
        auto *item = new QListWidgetItem(
            openIcon, vexalo::displayName(depth == 0 ? path : path.section(QLatin1Char('/'), -1)), Dir1);
        item->setData(folderPathRole, path);
        item->setData(folderDepthRole, int(depth));
        current = item;
    }
    const QStringList subFolders = FileListModel::subFolders(folder);
    for (const QString &name : subFolders) {
        auto *item = new QListWidgetItem(closedIcon, vexalo::displayName(name), Dir1);
        item->setData(folderPathRole, vexalo::joinPath(folder, name));
        item->setData(folderDepthRole, int(chain.size()));
    }
    Dir1->setCurrentItem(current);
    // In a deep folder the current one would sit below the list's bottom
    // edge; in the middle, its parents show above it and its sub-folders below.
    Dir1->scrollToItem(current, QAbstractItemView::PositionAtCenter);
}

void frmMain::drive1Change()
{
    const QString root = drive1Drive();
    QString error;
    bool opened = m_services.places->isAvailable(root);
    if (opened) {
        const QString last = m_lastFolderOnDrive.value(root, root);
        opened = setDir1Path(last, &error) || setDir1Path(root, &error);
    }
    if (!opened) {
        // The drive list keeps the chosen drive; the lists keep the previous folder.
        showMessage(tr("Selected drive not available!"), tr("Change Drive"), MessageRequest::Icon::None);
        m_services.places->setWorkingFolder(QStringLiteral("/"), nullptr);
    }
}

void frmMain::dir1Change()
{
    QString error;
    m_files->setPath(m_dir1Path, &error);
    m_lastFolderOnDrive.insert(m_services.places->driveOf(m_dir1Path), m_dir1Path);
    if (!m_services.places->setWorkingFolder(m_dir1Path, &error))
        showMessage(tr("Cannot make \"%1\" the working folder: %2").arg(vexalo::displayName(m_dir1Path), error),
                    tr("Change Folder"), MessageRequest::Icon::Exclamation);
}

void frmMain::dir1Click(QListWidgetItem *item)
{
    if (!item)
        return;
    const QString folder = item->data(folderPathRole).toString();
    QString error;
    // A folder removed or barred since the list was filled: say so, and show
    // the folder list as it is now, with the folder that is still open as its
    // current entry, in agreement with the file list.
    if (!setDir1Path(folder, &error)) {
        fillDir1(m_dir1Path);
        showMessage(tr("The folder \"%1\" cannot be opened: %2").arg(vexalo::displayName(folder), error),
                    tr("Change Folder"), MessageRequest::Icon::Exclamation);
    }
}

void frmMain::cmbPatternClick()
{
    m_files->setPattern(cmbPattern->currentText());
}

void frmMain::cmbPatternTyped()
{
    // An item confirmed with Enter was applied as a choice a moment ago.
    if (cmbPattern->currentText() != m_files->pattern())
        cmbPatternClick();
}

void frmMain::refreshDrives()
{
    const QList<DriveInfo> drives = m_services.places->drives();
    bool same = drives.size() == Drive1->count();
    for (qsizetype i = 0; same && i < drives.size(); ++i)
        same = Drive1->itemData(int(i)).toString() == drives[i].rootPath && Drive1->itemText(int(i)) == drives[i].label;
    if (same)
        return;
    // A drive that went away gives way to the one that holds the folder shown.
    const QString chosen = drive1Drive();
    Drive1->clear();
    for (const DriveInfo &drive : drives)
        Drive1->addItem(drive.label, drive.rootPath);
    int index = Drive1->findData(chosen);
    if (index < 0)
        index = Drive1->findData(m_services.places->driveOf(m_dir1Path));
    Drive1->setCurrentIndex(std::max(0, index));
}

void frmMain::goToFolder(const QString &folder)
{
    if (folder.isEmpty())
        return;
    QString error;
    // Check first, so that a folder that is gone changes neither list.
    if (!FileListModel::canList(folder, &error)) {
        showMessage(tr("The folder \"%1\" cannot be opened: %2").arg(vexalo::displayName(folder), error),
                    tr("Last Folder"), MessageRequest::Icon::Exclamation);
        return;
    }
    setDrive1Drive(folder);
    setDir1Path(folder, &error);
}

void frmMain::txtLastFolderDblClick()
{
    // The box shows the folder readably; Folders holds the name itself.
    goToFolder(Folders.value(0));
}

void frmMain::lblFoldersClick()
{
    // The reference is the folder shown, so successive clicks step through the
    // history, wrapping from the oldest to the newest. Two runs in one folder
    // leave equal neighbours, and a folder that is gone cannot be shown: the
    // walk remembers where it stands and skips entries equal to the folder
    // shown, so it never sticks on either.
    qsizetype from = m_walkFolder == m_dir1Path ? m_walkIndex : -1;
    if (from < 0 || from >= Folders.size())
        from = Folders.indexOf(m_dir1Path);
    if (from < 0)
        return;
    for (qsizetype step = 1; step <= Folders.size(); ++step) {
        const qsizetype next = (from + step) % Folders.size();
        if (Folders.at(next) == m_dir1Path)
            continue;
        m_walkIndex = next;
        goToFolder(Folders.at(next));
        m_walkFolder = m_dir1Path;
        return;
    }
}
