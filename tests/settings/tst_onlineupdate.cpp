// SPDX-License-Identifier: MIT
#include "FakeServices.h"

#include "platform/Services.h"
#include "settings/OnlineUpdate.h"
#include "tests/common/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexalo;

class TestOnlineUpdate : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_folder; // the program folder, by its bytes
    std::optional<testfiles::RawTreeRemover> m_remover;
    FakeMessageBoxes m_messages;
    FakeProcessLauncher m_launcher;
    Services m_services;
    int m_closed = 0;

    FilePath folder() const { return FilePath::fromBytes(m_folder); }
    QByteArray file(const QString &name) const { return m_folder + '/' + name.toUtf8(); }
    QString startedName(const QString &name) const { return FilePath::fromBytes(file(name)).toString(); }

    // The program folder becomes a folder of this name inside the test's own.
    void enterFolder(const QByteArray &name)
    {
        if (name.isEmpty())
            return;
        m_folder += '/' + name;
        QCOMPARE(::mkdir(m_folder.constData(), 0700), 0);
        m_remover.emplace(m_folder);
    }
    void put(const QString &name, const QByteArray &bytes) { testfiles::writeRawFile(file(name), bytes); }
    QByteArray contents(const QString &name) const { return testfiles::readRawFile(file(name)); }
    QStringList entries() const
    {
        QStringList names;
        for (const QByteArray &name : testfiles::rawEntries(m_folder))
            names << QString::fromUtf8(name);
        return names;
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
        m_remover.reset();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_folder = QFile::encodeName(m_dir->path());
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
        QTest::addColumn<QByteArray>("folderName");
        QTest::addColumn<bool>("updateIsFolder");
        QTest::newRow("no Update") << QByteArray() << false;
        // A folder of that name is not a replacement updater.
        QTest::newRow("Update is a folder") << QByteArray() << true;
        QTest::newRow("no Update, folder not UTF-8") << QByteArray("pr\xe9g") << false;
    }
    void okWithoutReplacementStartsTheUpdater()
    {
        QFETCH(QByteArray, folderName);
        QFETCH(bool, updateIsFolder);
        enterFolder(folderName);
        put(QStringLiteral("Fennick"), "old updater");
        if (updateIsFolder)
            QCOMPARE(::mkdir(file(QStringLiteral("Update")).constData(), 0700), 0);
        const QStringList before = entries();

        QCOMPARE(runUpdate().outcome, UpdateResult::Outcome::Started);
        QCOMPARE(m_messages.shown.size(), 1);
        verifyQuestion(m_messages.shown[0]);
        QCOMPARE(m_launcher.started, QStringList{startedName(QStringLiteral("Fennick"))});
        QCOMPARE(m_closed, 1);
        QCOMPARE(entries(), before);
        QCOMPARE(contents(QStringLiteral("Fennick")), QByteArray("old updater"));
    }

    void okWithReplacementStartsTheNewUpdater_data()
    {
        QTest::addColumn<QByteArray>("folderName");
        QTest::newRow("program folder") << QByteArray();
        // Looked up under another name, "Update" and "Fennick" would seem
        // missing and the command would fail.
        QTest::newRow("program folder not UTF-8") << QByteArray("pr\xe9g");
    }
    void okWithReplacementStartsTheNewUpdater()
    {
        QFETCH(QByteArray, folderName);
        enterFolder(folderName);
        put(QStringLiteral("Update"), "new updater");
        put(QStringLiteral("Fennick"), "old updater");
        QCOMPARE(::chmod(file(QStringLiteral("Update")).constData(), 0700), 0);
        QByteArray startedContents;
        m_launcher.onStart = [&](const QString &) { startedContents = contents(QStringLiteral("Fennick")); };

        QCOMPARE(runUpdate().outcome, UpdateResult::Outcome::Started);
        QCOMPARE(m_launcher.started, QStringList{startedName(QStringLiteral("Fennick"))});
        // The copy started is the replacement, already under its new name.
        QCOMPARE(startedContents, QByteArray("new updater"));
        QCOMPARE(entries(), QStringList{QStringLiteral("Fennick")});
        QCOMPARE(::access(file(QStringLiteral("Fennick")).constData(), X_OK), 0);
        QCOMPARE(m_closed, 1);
        QCOMPARE(m_messages.shown.size(), 1);
    }

    // The old updater must be there to be deleted: without it the command
    // fails and the replacement keeps its name for the next attempt.
    void okWithReplacementButNoUpdater_data()
    {
        QTest::addColumn<QByteArray>("folderName");
        QTest::addColumn<bool>("updaterIsFolder");
        QTest::newRow("no Fennick") << QByteArray() << false;
        QTest::newRow("Fennick is a folder") << QByteArray() << true;
        QTest::newRow("no Fennick, folder not UTF-8") << QByteArray("pr\xe9g") << false;
    }
    void okWithReplacementButNoUpdater()
    {
        QFETCH(QByteArray, folderName);
        QFETCH(bool, updaterIsFolder);
        enterFolder(folderName);
        put(QStringLiteral("Update"), "new updater");
        if (updaterIsFolder)
            QCOMPARE(::mkdir(file(QStringLiteral("Fennick")).constData(), 0700), 0);
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
        QCOMPARE(::symlink(file(QStringLiteral("elsewhere")).constData(), file(QStringLiteral("Fennick")).constData()),
                 0);
        put(QStringLiteral("Update"), "new updater");
        QCOMPARE(runUpdate().outcome, UpdateResult::Outcome::Started);
        struct stat named {};
        QCOMPARE(::lstat(file(QStringLiteral("Fennick")).constData(), &named), 0);
        QVERIFY(!S_ISLNK(named.st_mode));
        QCOMPARE(contents(QStringLiteral("Fennick")), QByteArray("new updater"));
        QCOMPARE(contents(QStringLiteral("elsewhere")), QByteArray("target"));
    }
};

QTEST_GUILESS_MAIN(TestOnlineUpdate)
#include "tst_onlineupdate.moc"
