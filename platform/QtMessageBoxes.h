// SPDX-License-Identifier: MIT
#pragma once

#include "MessageBoxes.h"

class QMessageBox;

class QtMessageBoxes final : public MessageBoxes {
public:
    MessageAnswer show(QWidget *parent, const MessageRequest &request) override;

    // The outer width a box needs for its title to show whole in the title bar.
    static int widthForTitle(const QWidget &box);
    // Makes box at least that wide.
    static void keepTitleWhole(QMessageBox &box);
};
