// SPDX-License-Identifier: MIT
#pragma once

#include "platform/MessageBoxes.h"
#include "platform/Services.h"

#include <QCoreApplication>
#include <QString>

class QWidget;

// The Help menu's four links. Each command hands its link to the desktop's
// "open" as built here, character for character, and shows a message only when
// the hand-over itself fails; what the browser or mail program then does is
// none of the program's business.
class HelpLinks {
    Q_DECLARE_TR_FUNCTIONS(HelpLinks)

public:
    static QString emailLink();
    static QString webSiteLink();
    static QString forumsLink();
    static QString onlineHelpLink();

    // owner: the main window; programFolder: the folder of the executable,
    // handed to the web links as the folder the browser starts in.
    HelpLinks(const Services &services, QWidget *owner, QString programFolder);

    void emailAuthor();
    void openWebSite();
    void openForums();
    void openOnlineHelp();

private:
    void openWebPage(const QString &link, const QString &failureText, MessageRequest::Icon icon);

    Services m_services;
    QWidget *m_owner;
    QString m_programFolder;
};
