// SPDX-License-Identifier: MIT
#pragma once

#include "engine/files/FileOps.h"

#include <QCoreApplication>
#include <QString>

#include <functional>

class QWidget;
struct Services;

namespace vexalo {

struct UpdateResult {
    enum class Outcome {
        Cancelled, // the user did not choose OK; nothing was touched
        Started,   // the updater runs and the window was asked to close
        Failed,    // the error message was shown; the program stays open
    };
    Outcome outcome = Outcome::Cancelled;
    QString reason; // for Failed: what went wrong, naming the file
};

// The Online Update command: asks, puts a waiting replacement updater in
// place, starts the updater without waiting for it, and closes the window.
class OnlineUpdate {
    Q_DECLARE_TR_FUNCTIONS(OnlineUpdate)

public:
    // folder is the program folder, where the updater is installed beside
    // the program and the only place its files are looked for; services must
    // provide messages and processes. closeWindow is called only once the
    // updater has started.
    static UpdateResult run(const FilePath &folder, const Services &services, QWidget *parent,
                            const std::function<void()> &closeWindow);

    // Puts "Update" in place of "Fennick" in folder when a regular file
    // "Update" is there; success without touching anything when it is not.
    // The old updater must exist: without it nothing is renamed.
    static IoStatus putReplacementInPlace(const FilePath &folder);
};

} // namespace vexalo
