// SPDX-License-Identifier: MIT
#pragma once

#include "ProcessLauncher.h"

class QtProcessLauncher final : public ProcessLauncher {
public:
    bool startDetached(const QString &program, QString *error) override;
};
