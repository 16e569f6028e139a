// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>

// A drive is a mounted volume with a real file system.
struct DriveInfo {
    QString rootPath; // "/" first, then the other mount points
    QString label;    // what the drive list shows
};

class FileSystemPlaces {
public:
    virtual ~FileSystemPlaces() = default;
    virtual QList<DriveInfo> drives() = 0;
    // The volume whose mount point holds path (the longest match).
    virtual QString driveOf(const QString &path) = 0;
    // A drive whose root cannot be listed is not available.
    virtual bool isAvailable(const QString &rootPath) = 0;

    virtual QString workingFolder() = 0;
    virtual bool setWorkingFolder(const QString &folder, QString *error) = 0;

    // The folder that holds the program's own executable.
    virtual QString programFolder() = 0;
};
