// SPDX-License-Identifier: MIT
#include "StartFolders.h"

#include "platform/FileSystemPlaces.h"

#include <QDir>
#include <QFileInfo>

namespace vexalo {

namespace {

bool canOpen(const QString &folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

} // namespace

QString folderToOpen(const QString &folder1, const QString &programFolder)
{
    const QString stored = QDir::fromNativeSeparators(folder1);
    if (stored.isEmpty() || QDir::isRelativePath(stored))
        return programFolder;

    QString folder = QDir::cleanPath(stored);
    while (!canOpen(folder)) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder) // the root itself cannot be opened
            return programFolder;
        folder = parent;
    }
    // A stored "/srv/data/.." opens "/srv", not a name with dots in it.
    return folder;
}

ProtectedList enterProgramFolder(FileSystemPlaces &places)
{
    const QString programFolder = places.programFolder();
    QString error;
    if (places.setWorkingFolder(programFolder, &error))
        return loadProtectedList(places.workingFolder());
    return loadProtectedList(programFolder);
}

} // namespace vexalo
