// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts a program without waiting for it, in the program's own folder. A
    // bare name is looked up in this program's folder, then PATH, never in
    // the working folder. On failure returns false and puts the reason in
    // *error.
    virtual bool startDetached(const QString &program, QString *error) = 0;
};
