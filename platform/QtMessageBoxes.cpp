// SPDX-License-Identifier: MIT
#include "QtMessageBoxes.h"

#include <QMessageBox>

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
    return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}
