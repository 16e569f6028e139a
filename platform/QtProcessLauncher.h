// SPDX-License-Identifier: MIT
#pragma once

#include "ProcessLauncher.h"

class QtProcessLauncher final : public ProcessLauncher {
public:
    bool startDetached(const vexalo::FilePath &program, QString *error) override;
};
