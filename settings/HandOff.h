// SPDX-License-Identifier: MIT
#pragma once

#include "engine/files/FilePath.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

namespace vexalo {

// "4.1.27." and the program file's size in bytes.
QByteArray versionText(qint64 programFileSize);

struct HandOffResult {
    enum class Outcome {
        Written,
        // The folder holds no program file: the program was started from
        // somewhere else and leaves that folder alone.
        NoProgramFile,
        Failed,
    };
    Outcome outcome = Outcome::Written;
    QString error; // for Failed: every file that could not be written, and why
};

// Writes the updater's hand-off files "fennick.dat" and "vexalo4.ver" into
// folder, each replaced whole or not at all, when folder holds the program
// file itself. One file failing does not keep the other from being written.
class HandOff {
    Q_DECLARE_TR_FUNCTIONS(HandOff)

public:
    static HandOffResult write(const FilePath &folder);
};

} // namespace vexalo
