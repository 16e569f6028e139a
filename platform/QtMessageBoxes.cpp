// SPDX-License-Identifier: MIT
#include "QtMessageBoxes.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

int QtMessageBoxes::widthForTitle(const QWidget &box)
{
    // The window manager draws the title in a bold face of about the
    // window's font, beside an icon and three buttons of its own; it cuts
    // the title in the middle ("Find... lace") where the box is narrower.
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int decoration = 4 * QFontMetrics(titleFont).height() + 48;
    return QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + decoration;
}

void QtMessageBoxes::keepTitleWhole(QMessageBox &box)
{
    // QMessageBox sizes itself by its text and buttons alone; a spacer across
    // its grid is the one width it lets a caller add.
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(widthForTitle(box), 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

MessageAnswer QtMessageBoxes::show(QWidget *parent, const MessageRequest &request)
{
    QMessageBox box(parent);
    // A message box given no title shows the program title.
    box.setWindowTitle(request.title.isEmpty() ? QStringLiteral("Vexalo4") : request.title);
    box.setText(request.text);
    switch (request.icon) {
    case MessageRequest::Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MessageRequest::Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MessageRequest::Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MessageRequest::Icon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageRequest::Icon::Question: box.setIcon(QMessageBox::Question); break;
    }
    if (request.buttons == MessageRequest::Buttons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    box.setDefaultButton(request.cancelIsDefault && request.buttons == MessageRequest::Buttons::OkCancel
                             ? QMessageBox::Cancel
                             : QMessageBox::Ok);
    if (!request.okText.isEmpty())
        box.button(QMessageBox::Ok)->setText(request.okText);
    keepTitleWhole(box);
    return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}
