// SPDX-License-Identifier: MIT
#include "FakeServices.h"

#include "platform/Services.h"
#include "settings/OnlineUpdate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace vexalo;

class TestOnlineUpdate : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    FakeMessageBoxes m_messages;
    FakeProcessLauncher m_launcher;
    Services m_services;
    int m_closed = 0;

    QString folder() const { return m_dir->path(); }
    QString file(const QString &name) const { return m_dir->filePath(name); }

    void put(const QString &name, const QByteArray &bytes)
    {
        QFile f(file(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray contents(const QString &name) const
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList entries() const
    {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                        QDir::Name);
    }

    UpdateResult runUpdate()
    {
        return OnlineUpdate::run(folder(), m_services, nullptr, [this] { ++m_closed; });
    }

    void verifyQuestion(const MessageRequest &request)
    {
        QCOMPARE(request.text, QStringLiteral("Vexalo will close to check for online updates!"));
        QCOMPARE(request.title, QStringLiteral("Online Update"));
        QCOMPARE(request.buttons, MessageRequest::Buttons::OkCancel);
        QCOMPARE(request.icon, MessageRequest::Icon::Information);
    }
    void verifyFailureMessage(const MessageRequest &request)
    {
        QCOMPARE(request.text, QStringLiteral("Error updating Vexalo.  Close all programs and try again!"));
        QCOMPARE(request.title, QStringLiteral("Fennick"));
        QCOMPARE(request.buttons, MessageRequest::Buttons::Ok);
        QCOMPARE(request.icon, MessageRequest::Icon::None);
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_messages = FakeMessageBoxes();
        m_launcher = FakeProcessLauncher();
        m_services = Services();
        m_services.messages = &m_messages;
        m_services.processes = &m_launcher;
        m_closed = 0;
    }

    void cancelTouchesNothing()
    {
        put(QStringLiteral("Update"), "new updater");
        put(QStringLiteral("Fennick"), "old updater");
        m_messages.answers = {MessageAnswer::Cancel};

        QCOMPARE(runUpdate().outcome, UpdateResult::Outcome::Cancelled);
        QCOMPARE(m_messages.shown.size(), 1);
        verifyQuestion(m_messages.shown[0]);
        QCOMPARE(contents(QStringLiteral("Update")), QByteArray("new updater"));
        QCOMPARE(contents(QStringLiteral("Fennick")), QByteArray("old updater"));
        QVERIFY(m_launcher.started.isEmpty());
        QCOMPARE(m_closed, 0);
    }

    void okWithoutReplacementStartsTheUpdater_data()
    {
        QTest::addColumn<bool>("updateIsFolder");
        QTest::newRow("no Update") << false;
        // A folder of that name is not a replacement updater.
        QTest::newRow("Update is a folder") << true;
    }
    void okWithoutReplacementStartsTheUpdater()
    {
        QFETCH(bool, updateIsFolder);
        put(QStringLiteral("Fennick"), "old updater");
        if (updateIsFolder)
            QVERIFY(QDir(folder()).mkdir(QStringLiteral("Update")));
        const QStringList before = entries();

        QCOMPARE(runUpdate().outcome, UpdateResult::Outcome::Started);
        QCOMPARE(m_messages.shown.size(), 1);
        verifyQuestion(m_messages.shown[0]);
        QCOMPARE(m_launcher.started, QStringList{file(QStringLiteral("Fennick"))});
        QCOMPARE(m_closed, 1);
        QCOMPARE(entries(), before);
        QCOMPARE(contents(QStringLiteral("Fennick")), QByteArray("old updater"));
    }

    void okWithReplacementStartsTheNewUpdater()
    {
        put(QStringLiteral("Update"), "new updater");
        put(QStringLiteral("Fennick"), "old updater");
        QFile::setPermissions(file(QStringLiteral("Update")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QByteArray startedContents;
        m_launcher.onStart = [&](const QString &) { startedContents = contents(QStringLiteral("Fennick")); };

        QCOMPARE(runUpdate().outcome, UpdateResult::Outcome::Started);
        QCOMPARE(m_launcher.started, QStringList{file(QStringLiteral("Fennick"))});
        // The copy started is the replacement, already under its new name.
        QCOMPARE(startedContents, QByteArray("new updater"));
        QCOMPARE(entries(), QStringList{QStringLiteral("Fennick")});
        QVERIFY(QFileInfo(file(QStringLiteral("Fennick"))).isExecutable());
        QCOMPARE(m_closed, 1);
        QCOMPARE(m_messages.shown.size(), 1);
    }

    // The old updater must be there to be deleted: without it the command
    // fails and the replacement keeps its name for the next attempt.
    void okWithReplacementButNoUpdater_data()
    {
        QTest::addColumn<bool>("updaterIsFolder");
        QTest::newRow("no Fennick") << false;
        QTest::newRow("Fennick is a folder") << true;
    }
    void okWithReplacementButNoUpdater()
    {
        QFETCH(bool, updaterIsFolder);
        put(QStringLiteral("Update"), "new updater");
        if (updaterIsFolder)
            QVERIFY(QDir(folder()).mkdir(QStringLiteral("Fennick")));
        const QStringList before = entries();

        const UpdateResult result = runUpdate();
        QCOMPARE(result.outcome, UpdateResult::Outcome::Failed);
        QVERIFY2(result.reason.contains(QStringLiteral("Fennick")), qPrintable(result.reason));
        QCOMPARE(m_messages.shown.size(), 2);
        verifyQuestion(m_messages.shown[0]);
        verifyFailureMessage(m_messages.shown[1]);
        QCOMPARE(entries(), before);
        QCOMPARE(contents(QStringLiteral("Update")), QByteArray("new updater"));
        QVERIFY(m_launcher.started.isEmpty());
        QCOMPARE(m_closed, 0);
    }

    // A step already done is not undone: the renamed updater stays renamed.
    void updaterThatCannotStartLeavesTheRenameDone()
    {
        put(QStringLiteral("Update"), "new updater");
        put(QStringLiteral("Fennick"), "old updater");
        m_launcher.failWith = QStringLiteral("no such program");

        const UpdateResult result = runUpdate();
        QCOMPARE(result.outcome, UpdateResult::Outcome::Failed);
        QVERIFY2(result.reason.contains(QStringLiteral("no such program")), qPrintable(result.reason));
        QCOMPARE(m_messages.shown.size(), 2);
        verifyFailureMessage(m_messages.shown[1]);
        QCOMPARE(entries(), QStringList{QStringLiteral("Fennick")});
        QCOMPARE(contents(QStringLiteral("Fennick")), QByteArray("new updater"));
        QCOMPARE(m_closed, 0);
    }

    void noUpdaterAtAllFailsToStart()
    {
        m_launcher.failWith = QStringLiteral("not found");
        QCOMPARE(runUpdate().outcome, UpdateResult::Outcome::Failed);
        QCOMPARE(m_messages.shown.size(), 2);
        verifyFailureMessage(m_messages.shown[1]);
        QVERIFY(entries().isEmpty());
        QCOMPARE(m_closed, 0);
    }

    // A link named "Fennick" is replaced itself; what it pointed at stays.
    void updaterLinkIsReplacedNotItsTarget()
    {
        put(QStringLiteral("elsewhere"), "target");
        QVERIFY(QFile::link(file(QStringLiteral("elsewhere")), file(QStringLiteral("Fennick"))));
        put(QStringLiteral("Update"), "new updater");
        QCOMPARE(runUpdate().outcome, UpdateResult::Outcome::Started);
        QVERIFY(!QFileInfo(file(QStringLiteral("Fennick"))).isSymLink());
        QCOMPARE(contents(QStringLiteral("Fennick")), QByteArray("new updater"));
        QCOMPARE(contents(QStringLiteral("elsewhere")), QByteArray("target"));
    }
};

QTEST_GUILESS_MAIN(TestOnlineUpdate)
#include "tst_onlineupdate.moc"
