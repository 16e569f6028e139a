// SPDX-License-Identifier: MIT
#pragma once

#include "engine/runs/Runs.h"

#include <QCoreApplication>

#include <functional>

class QWidget;

// Runs a Replace or Restore off the window's thread, so a long batch never
// freezes the window: after a short moment a progress dialog with a Stop
// button appears; until then, and while it shows, no other command can start.
class RunProgress {
    Q_DECLARE_TR_FUNCTIONS(RunProgress)

public:
    using Run = std::function<vexalo::RunSummary(const vexalo::RunControl &)>;

    // showAfterMs: how long a run may take before the dialog appears.
    static vexalo::RunSummary run(QWidget *parent, const QString &title, int total, int showAfterMs, const Run &run);
};
