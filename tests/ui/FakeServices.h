// SPDX-License-Identifier: MIT
#pragma once

#include "platform/FileSystemPlaces.h"
#include "platform/LinkOpener.h"
#include "platform/MessageBoxes.h"
#include "platform/ProcessLauncher.h"
#include "platform/Services.h"

#include <QSet>

// Records every message box and answers from a script (OK once it runs dry).
class FakeMessageBoxes : public MessageBoxes {
public:
    MessageAnswer show(QWidget *, const MessageRequest &request) override
    {
        shown << request;
        return script.isEmpty() ? MessageAnswer::Ok : script.takeFirst();
    }
    QList<MessageRequest> shown;
    QList<MessageAnswer> script;
};

class FakeLinks : public LinkOpener {
public:
    LinkOpenResult open(const QString &link, QWidget *, const QString &) override
    {
        opened << link;
        return {};
    }
    QStringList opened;
};

class FakeProcesses : public ProcessLauncher {
public:
    bool startDetached(const vexalo::FilePath &program, QString *) override
    {
        started << program.toString();
        return true;
    }
    QStringList started;
};

// Drives and the working folder without touching the process: the working
// folder is only recorded, so tests cannot move each other's current folder.
class FakePlaces : public FileSystemPlaces {
public:
    QList<DriveInfo> drives() override { return driveList; }
    QString driveOf(const QString &path) override
    {
        QString best = QStringLiteral("/");
        for (const DriveInfo &drive : std::as_const(driveList)) {
            if ((path == drive.rootPath || path.startsWith(drive.rootPath + QLatin1Char('/')))
                && drive.rootPath.size() > best.size())
                best = drive.rootPath;
        }
        return best;
    }
    bool isAvailable(const QString &rootPath) override { return !unavailable.contains(rootPath); }
    QString workingFolder() override { return working; }
    bool setWorkingFolder(const QString &folder, QString *) override
    {
        working = folder;
        return true;
    }
    QString programFolder() override { return program; }

    QList<DriveInfo> driveList{{QStringLiteral("/"), QStringLiteral("/")}};
    QSet<QString> unavailable;
    QString working = QStringLiteral("/");
    QString program = QStringLiteral("/");
};

struct FakeServices {
    FakeMessageBoxes messages;
    FakeLinks links;
    FakeProcesses processes;
    FakePlaces places;
    Services services() { return {&messages, &links, &processes, &places}; }
};
