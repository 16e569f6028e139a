// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own pictures: one title-bar icon per window and the About banner.
class WindowIcons {
public:
    static QIcon mainWindow();
    static QIcon viewer();
    static QIcon about();
    // 431 x 110 pixels, 24-bit colour.
    static QPixmap aboutBanner();
};
