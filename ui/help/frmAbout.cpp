// SPDX-License-Identifier: MIT
#include "ui/help/frmAbout.h"

#include "ui/help/WindowIcons.h"

#include <QLabel>
#include <QPainter>
#include <QShortcut>

namespace {

// Positions in pixels of the window's design in twips (15 twips a pixel):
// client area 6495 x 2115, lblStatus at 0, 1800, 6495 x 375.
constexpr int clientWidth = 433;
constexpr int clientHeight = 141;
constexpr QRect statusGeometry(0, 120, 433, 25);

} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowCloseButtonHint)
    , lblStatus(new QLabel(this))
    , m_banner(WindowIcons::aboutBanner())
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("About Vexalo"));
    setWindowIcon(WindowIcons::about());
    setFixedSize(clientWidth, clientHeight);

    // Black text on the white background under any colour scheme: a dark
    // scheme's light text would not read on it.
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    white.setColor(QPalette::Text, Qt::black);
    setPalette(white);
    setAutoFillBackground(true);

    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setGeometry(statusGeometry);
    lblStatus->setAutoFillBackground(true);
    lblStatus->setAlignment(Qt::AlignCenter);
    lblStatus->setText(statusText());

    auto *closeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
    // The banner is a picture; a screen reader reads its words from here.
    setAccessibleDescription(tr("Vexalo. Find it once, replace it everywhere."));
}

QString frmAbout::statusText()
{
    return tr("Copyright \u00A9 2026 The Vexalo developers")
        + QStringLiteral("    Version: %1.%2.%3")
              .arg(VEXALO_VERSION_MAJOR)
              .arg(VEXALO_VERSION_MINOR)
              .arg(VEXALO_VERSION_PATCH);
}

void frmAbout::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_banner);
}
