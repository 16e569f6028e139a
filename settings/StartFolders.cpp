// SPDX-License-Identifier: MIT
#include "StartFolders.h"

#include "engine/files/FileNames.h"
#include "engine/files/ProtectedList.h"
#include "platform/FileSystemPlaces.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace vexalo {

namespace {

bool canOpen(const QString &folder)
{
    // On the name's own bytes: QFileInfo would look for another name when the
    // folder's is not valid UTF-8.
    const QByteArray name = encodeFileName(folder);
    struct stat info {};
    return ::stat(name.constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && ::access(name.constData(), R_OK | X_OK) == 0;
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
