// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class QWidget;

// A message box described by what the user sees, so that tests can record
// and answer it without a real dialog.
struct MessageRequest {
    enum class Buttons { Ok, OkCancel };
    enum class Icon { None, Critical, Exclamation, Information, Question };

    QString text;
    QString title; // empty: the program title "Vexalo4"
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    // For a question whose OK loses something: Enter then answers Cancel.
    bool cancelIsDefault = false;
    // The OK button's caption where the question names its action ("Undo");
    // empty: OK.
    QString okText;
};

enum class MessageAnswer { Ok, Cancel };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual MessageAnswer show(QWidget *parent, const MessageRequest &request) = 0;
};
