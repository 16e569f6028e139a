// SPDX-License-Identifier: MIT
#pragma once

#include "MainWindowState.h"

#include <QCoreApplication>
#include <QString>

#include <memory>

class QSettings;

namespace vexalo {

enum class SettingsTask { Load, Save };

// "get", exactly, loads; any other task saves ("Get" and "GET" included).
SettingsTask settingsTask(const QString &task);

struct SettingsResult {
    SettingsTask task = SettingsTask::Load;
    bool ok = true;
    QString error; // names the store; empty when ok
};

// The per-user store of the main window's settings: application "Vexalo4",
// section "Settings", eleven keys loaded and saved in one fixed order.
class SettingsStore {
    Q_DECLARE_TR_FUNCTIONS(SettingsStore)

public:
    // The user's own store (QSettings, user scope). programFolder is the
    // default of the five folder keys.
    explicit SettingsStore(QString programFolder);
    // A store kept in the given INI file instead, for tests and for anyone
    // who wants the settings next to the program.
    SettingsStore(QString programFolder, QString iniFile);

    // The main window's Settings(task).
    SettingsResult run(const QString &task, MainWindowState &state) const;

    // Every key is read on its own: an absent key gives its default, a
    // geometry value that is not a usable number leaves that value as it was.
    // ok is false only when the store itself could not be read.
    SettingsResult load(MainWindowState &state) const;
    // Writes every key (geometry only in the normal window state) and then
    // makes sure it reached the store: ok is false when it did not.
    SettingsResult save(const MainWindowState &state) const;

    // Where the values live (a file name on most systems), for messages.
    QString location() const;

private:
    std::unique_ptr<QSettings> open() const;
    QString failure(int status) const;

    QString m_programFolder;
    QString m_iniFile;
};

} // namespace vexalo
