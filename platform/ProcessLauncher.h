// SPDX-License-Identifier: MIT
#pragma once

#include "engine/files/FilePath.h"

#include <QString>

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts a program without waiting for it, in the program's own folder. A
    // bare name is looked up in this program's folder, then PATH, never in
    // the working folder. On failure returns false and puts the reason in
    // *error.
    virtual bool startDetached(const vexalo::FilePath &program, QString *error) = 0;
};
