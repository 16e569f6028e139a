// SPDX-License-Identifier: MIT
#pragma once

#include <QPixmap>
#include <QWidget>

class QLabel;

// The About window: the banner and one line that ends with the version. It
// has no owner, so the main window stays usable while it is open, and it is
// destroyed when the user closes it.
class frmAbout : public QWidget {
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

    // The rights notice, four blanks, then "Version: " and the version.
    static QString statusText();

    QLabel *lblStatus;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_banner;
};
