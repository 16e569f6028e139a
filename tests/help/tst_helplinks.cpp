// SPDX-License-Identifier: MIT
#include "platform/LinkOpener.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "ui/help/HelpLinks.h"

#include <QList>
#include <QTest>
#include <QWidget>

#include <cerrno>

namespace {

struct OpenCall {
    QString link;
    QWidget *owner;
    QString directory;
};

// Records each hand-over and answers with the one scripted result.
class FakeLinkOpener : public LinkOpener {
public:
    LinkOpenResult answer;
    QList<OpenCall> calls;
    LinkOpenResult open(const QString &link, QWidget *owner, const QString &directory) override
    {
        calls.append({link, owner, directory});
        return answer;
    }
};

class FakeMessageBoxes : public MessageBoxes {
public:
    QList<MessageRequest> shown;
    QList<QWidget *> parents;
    MessageAnswer show(QWidget *parent, const MessageRequest &request) override
    {
        shown.append(request);
        parents.append(parent);
        return MessageAnswer::Ok;
    }
};

enum class Command { Email, WebSite, Forums, OnlineHelp };

void run(HelpLinks &links, Command command)
{
    switch (command) {
    case Command::Email: links.emailAuthor(); break;
    case Command::WebSite: links.openWebSite(); break;
    case Command::Forums: links.openForums(); break;
    case Command::OnlineHelp: links.openOnlineHelp(); break;
    }
}

const QString programFolder = QStringLiteral("/opt/vexalo/bin");

} // namespace

Q_DECLARE_METATYPE(Command)
Q_DECLARE_METATYPE(MessageRequest::Icon)

class tst_HelpLinks : public QObject {
    Q_OBJECT

private slots:
    void handsOverTheExactLink_data();
    void handsOverTheExactLink();
    void failedCallShowsItsMessage_data();
    void failedCallShowsItsMessage();
    void missingOpenerCountsAsAFailedCall();
};

void tst_HelpLinks::handsOverTheExactLink_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("ownedByMainWindow");
    QTest::addColumn<QString>("directory");

    // The mail body keeps its blanks and comma: a percent-encoded copy would
    // reach some mail programs as "%20" in the message.
    QTest::newRow("email") << Command::Email
                           << "mailto:author@vexalo.example?subject=Vexalo&body=Suggestions, comments, or problems:"
                           << false << QString();
    QTest::newRow("web site") << Command::WebSite << "https://vexalo.example/free/vexalo.htm" << true << programFolder;
    QTest::newRow("forums") << Command::Forums << "https://vexalo.example/phpbb" << true << programFolder;
    QTest::newRow("online help") << Command::OnlineHelp << "https://vexalo.example/free/vexalohelp.htm" << true
                                 << programFolder;
}

void tst_HelpLinks::handsOverTheExactLink()
{
    QFETCH(Command, command);
    QFETCH(QString, link);
    QFETCH(bool, ownedByMainWindow);
    QFETCH(QString, directory);

    QWidget mainWindow;
    FakeLinkOpener opener;
    FakeMessageBoxes messages;
    HelpLinks links({&messages, &opener, nullptr, nullptr}, &mainWindow, programFolder);

    run(links, command);

    QCOMPARE(opener.calls.size(), 1);
    QCOMPARE(opener.calls[0].link, link);
    QCOMPARE(opener.calls[0].owner, ownedByMainWindow ? &mainWindow : nullptr);
    QCOMPARE(opener.calls[0].directory, directory);
    // Accepted: whatever the browser makes of it, the program says nothing.
    QVERIFY(messages.shown.isEmpty());
}

void tst_HelpLinks::failedCallShowsItsMessage_data()
{
    QTest::addColumn<Command>("command");
    QTest::addColumn<int>("errorNumber");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::addColumn<MessageRequest::Icon>("icon");

    using Icon = MessageRequest::Icon;
    QTest::newRow("email") << Command::Email << 2 << "Error sending email!"
                           << "Send Email to Author" << Icon::Exclamation;
    QTest::newRow("web site") << Command::WebSite << 2 << "Could not locate web site!  Error 2" << QString()
                              << Icon::None;
    QTest::newRow("forums, two digits") << Command::Forums << 53 << "Could not locate forum site!  Error 53"
                                        << QString() << Icon::None;
    QTest::newRow("online help") << Command::OnlineHelp << 1 << "Something went wrong, but I don't know what!  Error 1"
                                 << QString() << Icon::Exclamation;
    QTest::newRow("negative number") << Command::WebSite << -2147 << "Could not locate web site!  Error -2147"
                                     << QString() << Icon::None;
}

void tst_HelpLinks::failedCallShowsItsMessage()
{
    QFETCH(Command, command);
    QFETCH(int, errorNumber);
    QFETCH(QString, text);
    QFETCH(QString, title);
    QFETCH(MessageRequest::Icon, icon);

    QWidget mainWindow;
    FakeLinkOpener opener;
    opener.answer = {false, errorNumber};
    FakeMessageBoxes messages;
    HelpLinks links({&messages, &opener, nullptr, nullptr}, &mainWindow, programFolder);

    run(links, command);

    // One attempt, one message, no retry.
    QCOMPARE(opener.calls.size(), 1);
    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.shown[0].text, text);
    QCOMPARE(messages.shown[0].title, title);
    QCOMPARE(messages.shown[0].icon, icon);
    QCOMPARE(messages.shown[0].buttons, MessageRequest::Buttons::Ok);
    QCOMPARE(messages.parents[0], &mainWindow);
}

void tst_HelpLinks::missingOpenerCountsAsAFailedCall()
{
    QWidget mainWindow;
    FakeMessageBoxes messages;
    HelpLinks links({&messages, nullptr, nullptr, nullptr}, &mainWindow, programFolder);

    links.openForums();
    links.emailAuthor();

    QCOMPARE(messages.shown.size(), 2);
    QCOMPARE(messages.shown[0].text, QStringLiteral("Could not locate forum site!  Error %1").arg(ENOSYS));
    QCOMPARE(messages.shown[1].text, QStringLiteral("Error sending email!"));
}

QTEST_MAIN(tst_HelpLinks)
#include "tst_helplinks.moc"
