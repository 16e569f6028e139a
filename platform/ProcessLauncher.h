// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts a program without waiting for it. A bare name is looked up in the
    // working folder, then the program folder, then PATH. On failure returns
    // false and puts the reason in *error.
    virtual bool startDetached(const QString &program, QString *error) = 0;
};
