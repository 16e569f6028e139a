// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class QWidget;

// The desktop's "open" for web and mail links. A failed hand-over is an error
// raised by the call, carried as a number that the Help menu shows.
struct LinkOpenResult {
    bool ok = true;
    int errorNumber = 0;
};

class LinkOpener {
public:
    virtual ~LinkOpener() = default;
    // owner may be null and directory empty: not every link has them.
    virtual LinkOpenResult open(const QString &link, QWidget *owner, const QString &directory) = 0;
};
