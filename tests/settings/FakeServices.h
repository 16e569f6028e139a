// SPDX-License-Identifier: MIT
#pragma once

#include "platform/FileSystemPlaces.h"
#include "platform/MessageBoxes.h"
#include "platform/ProcessLauncher.h"

#include <QDir>
#include <QList>
#include <QStringList>

#include <functional>

// Records every message box and answers from a script; an empty script
// answers OK.
class FakeMessageBoxes : public MessageBoxes {
public:
    QList<MessageRequest> shown;
    QList<MessageAnswer> answers;

    MessageAnswer show(QWidget *, const MessageRequest &request) override
    {
        shown << request;
        return answers.isEmpty() ? MessageAnswer::Ok : answers.takeFirst();
    }
};

// Records what it was asked to start; fails with a given reason when told to.
// onStart runs at the moment of the start, to see the files as they are then.
class FakeProcessLauncher : public ProcessLauncher {
public:
    QStringList started;
    QString failWith;
    std::function<void(const QString &)> onStart;

    bool startDetached(const vexalo::FilePath &program, QString *error) override
    {
        if (!failWith.isEmpty()) {
            if (error)
                *error = failWith;
            return false;
        }
        started << program.toString();
        if (onStart)
            onStart(program.toString());
        return true;
    }
};

// Real working-folder changes (the list loader reads relative to it), with a
// program folder of the test's choosing; refuses to move when told to.
class FakePlaces : public FileSystemPlaces {
public:
    QString program;
    bool refuseMove = false;

    QList<DriveInfo> drives() override { return {{QStringLiteral("/"), QStringLiteral("/")}}; }
    QString driveOf(const QString &) override { return QStringLiteral("/"); }
    bool isAvailable(const QString &) override { return true; }
    QString workingFolder() override { return QDir::currentPath(); }
    bool setWorkingFolder(const QString &folder, QString *error) override
    {
        if (refuseMove || !QDir::setCurrent(folder)) {
            if (error)
                *error = QStringLiteral("refused");
            return false;
        }
        return true;
    }
    QString programFolder() override { return program; }
};
