// SPDX-License-Identifier: MIT
// The Help menu as the user reaches it from the main window: the links go to
// the desktop's "open" with the right owner and folder, failures are shown,
// and the About window is single and outlives the main window.
#include "FakeServices.h"
#include "ui/frmMain/frmMain.h"
#include "ui/help/frmAbout.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct OpenCall {
    QString link;
    QWidget *owner = nullptr;
    QString directory;
};

class RecordingLinks : public LinkOpener {
public:
    LinkOpenResult open(const QString &link, QWidget *owner, const QString &directory) override
    {
        calls.append({link, owner, directory});
        return answer;
    }
    QList<OpenCall> calls;
    LinkOpenResult answer;
};

QList<QWidget *> aboutWindows()
{
    QList<QWidget *> found;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<frmAbout *>(w) && w->isVisible())
            found << w;
    }
    return found;
}

} // namespace

class tst_HelpMenu : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeServices> m_fakes;
    RecordingLinks m_links;
    std::unique_ptr<frmMain> m_window;

    void trigger(const char *name)
    {
        QAction *action = m_window->findChild<QAction *>(QLatin1String(name));
        QVERIFY2(action, name);
        action->trigger();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_fakes = std::make_unique<FakeServices>();
        m_fakes->places.program = m_dir->path();
        m_fakes->places.working = m_dir->path();
        m_links.calls.clear();
        m_links.answer = {};
        Services services = m_fakes->services();
        services.links = &m_links;
        m_window = std::make_unique<frmMain>(services);
        m_window->useSettingsFile(m_dir->filePath("store.conf"));
        m_window->startUp();
        m_window->show();
    }
    void cleanup()
    {
        m_window.reset();
        for (QWidget *w : QApplication::topLevelWidgets())
            delete w;
        m_fakes.reset();
        m_dir.reset();
    }

    void linksReachTheDesktop_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("ownedAndInProgramFolder");
        QTest::newRow("mail") << "mnuEmail"
                              << "mailto:author@vexalo.example?subject=Vexalo&body=Suggestions, comments, or problems:"
                              << false;
        QTest::newRow("web site") << "mnuWebSite"
                                  << "https://vexalo.example/free/vexalo.htm" << true;
        QTest::newRow("forums") << "mnuForums"
                                << "https://vexalo.example/phpbb" << true;
        QTest::newRow("online help") << "mnuOnlineHelp"
                                     << "https://vexalo.example/free/vexalohelp.htm" << true;
    }
    void linksReachTheDesktop()
    {
        QFETCH(QString, action);
        QFETCH(QString, link);
        QFETCH(bool, ownedAndInProgramFolder);
        trigger(action.toLatin1().constData());
        QCOMPARE(m_links.calls.size(), 1);
        QCOMPARE(m_links.calls[0].link, link);
        QCOMPARE(m_links.calls[0].owner, ownedAndInProgramFolder ? static_cast<QWidget *>(m_window.get()) : nullptr);
        QCOMPARE(m_links.calls[0].directory, ownedAndInProgramFolder ? m_dir->path() : QString());
        QVERIFY(m_fakes->messages.shown.isEmpty()); // an accepted link says nothing
    }

    void failedLinkIsShown()
    {
        m_links.answer = {false, 53};
        trigger("mnuForums");
        QCOMPARE(m_fakes->messages.shown.size(), 1);
        QCOMPARE(m_fakes->messages.shown[0].text, "Could not locate forum site!  Error 53");
        QCOMPARE(m_fakes->messages.shown[0].icon, MessageRequest::Icon::None);
        trigger("mnuEmail");
        QCOMPARE(m_fakes->messages.shown[1].text, "Error sending email!");
        QCOMPARE(m_fakes->messages.shown[1].title, "Send Email to Author");
        QCOMPARE(m_fakes->messages.shown[1].icon, MessageRequest::Icon::Exclamation);
    }

    void oneAboutWindowThatOutlivesTheMainWindow()
    {
        trigger("mnuAbout");
        trigger("mnuAbout");
        QCOMPARE(aboutWindows().size(), 1);
        auto *label = aboutWindows().first()->findChild<QLabel *>("lblStatus");
        QVERIFY(label);
        QVERIFY(label->text().endsWith("    Version: 4.1.27"));

        // Qt ends the program when its last visible window that counts for
        // quitting closes: About must be such a window, of its own.
        m_window->close();
        QCoreApplication::processEvents();
        QCOMPARE(aboutWindows().size(), 1);
        QWidget *about = aboutWindows().first();
        QVERIFY(!about->parentWidget());
        QVERIFY(about->testAttribute(Qt::WA_QuitOnClose));
        about->close();
        QCoreApplication::processEvents();
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY2(!w->isVisible() || !w->testAttribute(Qt::WA_QuitOnClose), qPrintable(w->objectName()));
    }
};

QTEST_MAIN(tst_HelpMenu)
#include "tst_helpmenu.moc"
