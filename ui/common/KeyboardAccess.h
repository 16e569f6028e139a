// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QString>

#include <functional>

class QAbstractButton;
class QMenu;
class QPlainTextEdit;
class QWidget;

// A label and a box that act on a click. Qt's own accessible interfaces for
// QLabel and QLineEdit are asked first and offer no press, so these carry
// class names of their own, which only keyboard::offerPressAction answers.
class PressableLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
};

class PressableLineEdit : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;
};

// Keyboard ways to what the mouse does, shared by the windows.
namespace keyboard {

// The caption with an access key marked: the letter the caption marks itself
// (a translation brings its own) or else the preferred one, where the caption
// has it and no other control of the window took it; otherwise the first
// free letter that begins a word, then any free letter. taken collects the
// letters given out, so one string passed to every caption of a window, menu
// titles included, leaves no two sharing a key in any language.
QString withAccessKey(const QString &caption, QChar preferred, QString &taken);
void addAccessKey(QAbstractButton *button, QChar preferred, QString &taken);
void addAccessKey(QMenu *menu, QChar preferred, QString &taken);

// The letter a caption marks as its access key, lower case; null for none.
QChar accessKeyOf(const QString &caption);

// Return and Enter press the button while it has the focus, as Space does.
// Qt does this only for buttons in dialogs.
void pressOnEnter(QAbstractButton *button);

// Return, Enter and Space run press while widget has the focus.
void pressOnKeys(QWidget *widget, std::function<void()> press);

// An Alt combination that no shortcut or access key took reaches a text box
// as the letter typed: Alt+H would type "h". The box ignores it instead.
void ignoreAltTyping(QPlainTextEdit *box);

// A screen reader sees the widget as a button (the box as a read-only box)
// whose press action runs press. Call before anything asks for the widget's
// accessible interface.
void offerPressAction(PressableLabel *label, std::function<void()> press);
void offerPressAction(PressableLineEdit *box, std::function<void()> press);

} // namespace keyboard
