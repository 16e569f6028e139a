// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class QAbstractButton;

// Keyboard ways to what the mouse does, shared by the windows.
namespace keyboard {

// The caption with an access key marked: the preferred letter where the
// caption has it and no other control of the window took it, otherwise the
// first free letter of the caption. taken collects the letters given out.
// A caption that already marks one (a translation may bring its own) is kept.
QString withAccessKey(const QString &caption, QChar preferred, QString &taken);
void addAccessKey(QAbstractButton *button, QChar preferred, QString &taken);

// Return and Enter press the button while it has the focus, as Space does.
// Qt does this only for buttons in dialogs.
void pressOnEnter(QAbstractButton *button);

} // namespace keyboard
