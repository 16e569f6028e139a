// SPDX-License-Identifier: MIT
#include "platform/QtFileSystemPlaces.h"
#include "platform/QtMessageBoxes.h"
#include "platform/QtProcessLauncher.h"
#include "tests/common/TestFiles.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class TestPlatform : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void drivesStartWithTheRoot();
    void workingFolder();
    void messageBoxShowsTheRequestAndReturnsTheAnswer();
    void missingProgramIsReported();
    void programStartsInItsOwnFolder_data();
    void programStartsInItsOwnFolder();
};

void TestPlatform::drivesStartWithTheRoot()
{
    QtFileSystemPlaces places;
    const QList<DriveInfo> drives = places.drives();
    QVERIFY(!drives.isEmpty());
    QCOMPARE(drives.first().rootPath, QStringLiteral("/"));
    QVERIFY(places.isAvailable(QStringLiteral("/")));
    QVERIFY(!places.isAvailable(QStringLiteral("/no/such/volume")));
    // The empty folder an unmounted volume leaves behind is no drive, though it can be listed.
    QTemporaryDir mountPoint;
    QVERIFY(!places.isAvailable(mountPoint.path()));
    for (const DriveInfo &drive : drives)
        QCOMPARE(places.driveOf(drive.rootPath), drive.rootPath);
}

void TestPlatform::workingFolder()
{
    QtFileSystemPlaces places;
    const QString before = places.workingFolder();
    QTemporaryDir dir;
    QString error;
    QVERIFY(places.setWorkingFolder(dir.path(), &error));
    QCOMPARE(QFileInfo(places.workingFolder()).canonicalFilePath(), QFileInfo(dir.path()).canonicalFilePath());
    QVERIFY(!places.setWorkingFolder(dir.filePath("gone"), &error));
    QVERIFY(error.contains(QStringLiteral("No such file")));
    QVERIFY(places.setWorkingFolder(before, nullptr));
    QCOMPARE(places.programFolder(), QCoreApplication::applicationDirPath());
}

void TestPlatform::messageBoxShowsTheRequestAndReturnsTheAnswer()
{
    QtMessageBoxes boxes;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    // Answers the box once it is up, pressing Cancel.
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = int(box->buttons().size());
        box->button(QMessageBox::Cancel)->click();
    });
    MessageRequest request;
    request.text = QStringLiteral("No files selected!");
    request.buttons = MessageRequest::Buttons::OkCancel;
    request.icon = MessageRequest::Icon::Critical;
    QCOMPARE(boxes.show(nullptr, request), MessageAnswer::Cancel);
    QCOMPARE(title, QStringLiteral("Vexalo4")); // no title given: the program title
    QCOMPARE(text, request.text);
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, 2);
}

void TestPlatform::missingProgramIsReported()
{
    QtProcessLauncher launcher;
    QString error;
    QVERIFY(!launcher.startDetached(vexalo::FilePath::fromBytes("no-such-program-vexalo"), &error));
    QVERIFY(error.contains(QStringLiteral("no-such-program-vexalo")));

    // A program of that name in the working folder, which is whatever folder
    // the user browsed to, is never the one started.
    QTemporaryDir browsed;
    const QString planted = browsed.filePath(QStringLiteral("no-such-program-vexalo"));
    QFile script(planted);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ntouch \"$0.ran\"\n");
    script.close();
    QVERIFY(QFile::setPermissions(planted, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(browsed.path()));
    const bool started = launcher.startDetached(vexalo::FilePath::fromBytes("no-such-program-vexalo"), &error);
    QDir::setCurrent(before);
    QVERIFY(!started);
    QTest::qWait(200);
    QVERIFY(!QFile::exists(planted + QStringLiteral(".ran")));
}

void TestPlatform::programStartsInItsOwnFolder_data()
{
    QTest::addColumn<QByteArray>("folderName");
    QTest::newRow("folder in UTF-8") << QByteArray("caf\xc3\xa9");
    // The updater beside a program installed in such a folder must start too.
    QTest::newRow("folder not UTF-8") << QByteArray("pr\xe9g");
}

void TestPlatform::programStartsInItsOwnFolder()
{
    QFETCH(QByteArray, folderName);
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + '/' + folderName;
    QCOMPARE(::mkdir(folder.constData(), 0700), 0);
    const testfiles::RawTreeRemover remover{folder};
    const QByteArray program = folder + "/Fennick";
    testfiles::writeRawFile(program, "#!/bin/sh\necho started > ran\n");
    QCOMPARE(::chmod(program.constData(), 0700), 0);

    QtProcessLauncher launcher;
    QString error;
    QVERIFY2(launcher.startDetached(vexalo::FilePath::fromBytes(program), &error), qPrintable(error));
    QTRY_COMPARE(testfiles::readRawFile(folder + "/ran"), QByteArray("started\n"));
}

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
