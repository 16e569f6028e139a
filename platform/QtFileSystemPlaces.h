// SPDX-License-Identifier: MIT
#pragma once

#include "FileSystemPlaces.h"

class QtFileSystemPlaces final : public FileSystemPlaces {
public:
    QList<DriveInfo> drives() override;
    QString driveOf(const QString &path) override;
    bool isAvailable(const QString &rootPath) override;

    QString workingFolder() override;
    bool setWorkingFolder(const QString &folder, QString *error) override;

    QString programFolder() override;
};
