// SPDX-License-Identifier: MIT
#pragma once

#include "MessageBoxes.h"

class QtMessageBoxes final : public MessageBoxes {
public:
    MessageAnswer show(QWidget *parent, const MessageRequest &request) override;
};
