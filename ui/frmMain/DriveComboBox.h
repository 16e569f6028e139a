// SPDX-License-Identifier: MIT
#pragma once

#include <QComboBox>

#include <functional>

// The drive list, which reads the mounted volumes again each time it opens,
// so a volume mounted while the program runs can be chosen.
class DriveComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;

    std::function<void()> beforePopup;

    void showPopup() override
    {
        if (beforePopup)
            beforePopup();
        QComboBox::showPopup();
    }
};
