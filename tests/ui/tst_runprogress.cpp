// SPDX-License-Identifier: MIT
// Long runs keep the window alive: the run goes on another thread, a progress
// dialog with Stop appears after a moment, and Stop ends the run between files.
#include "FakeServices.h"
#include "engine/files/FileOps.h"
#include "ui/frmMain/RunProgress.h"
#include "ui/frmMain/frmMain.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <thread>

namespace {

QProgressDialog *progressDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QProgressDialog *>(w); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class tst_RunProgress : public QObject {
    Q_OBJECT

private slots:
    void quickRunShowsNoDialog()
    {
        // Looked for while the run is still going, well inside the grace time.
        bool sawDialog = true;
        QTimer::singleShot(50, [&] { sawDialog = progressDialog() != nullptr; });
        const vexalo::RunSummary summary =
            RunProgress::run(nullptr, "Replace", 1, 5000, [&](const vexalo::RunControl &c) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                vexalo::RunSummary s;
                s.results.append({vexalo::FilePath::fromBytes("a.txt"), vexalo::Outcome::NotFound, {}});
                if (c.fileDone)
                    c.fileDone(s.results.first(), 0);
                return s;
            });
        QVERIFY(!sawDialog);
        QCOMPARE(summary.results.size(), 1);
    }

    void stopEndsALongRun()
    {
        // A run that only ends when asked to: the Stop button is the only way out.
        QTimer::singleShot(50, [] {
            QProgressDialog *dialog = progressDialog();
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), "Replace");
            QVERIFY(dialog->isModal());
            auto *stop = dialog->findChild<QPushButton *>();
            QVERIFY(stop);
            QCOMPARE(stop->text(), "Stop");
            // The text changes to say the run is stopping; the dialog stays put.
            const QRect before = dialog->geometry();
            QTest::mouseClick(stop, Qt::LeftButton);
            QCOMPARE(dialog->labelText(), "Stopping after the files in work...");
            QCOMPARE(dialog->geometry(), before);
        });
        const vexalo::RunSummary summary = RunProgress::run(nullptr, "Replace", 10, 0, [](const vexalo::RunControl &c) {
            vexalo::RunSummary s;
            while (!c.stopRequested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            s.stopped = true;
            return s;
        });
        QVERIFY(summary.stopped);
        QVERIFY(!progressDialog());
    }

    // A run waiting for a file another program keeps locked says which, or
    // it would look hung.
    void waitForALockIsShown()
    {
        QString shown;
        QTimer::singleShot(300, [&] {
            QProgressDialog *dialog = progressDialog();
            QVERIFY(dialog);
            shown = dialog->labelText();
            QTest::mouseClick(dialog->findChild<QPushButton *>(), Qt::LeftButton);
        });
        RunProgress::run(nullptr, "Replace", 10, 0, [](const vexalo::RunControl &c) {
            if (c.lockWaits && c.lockWaits->onWait)
                c.lockWaits->onWait("/somewhere/locked.txt");
            while (!c.stopRequested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return vexalo::RunSummary{};
        });
        QCOMPARE(shown, "Waiting for another program to let go of locked.txt (at most a minute for the whole run)...");
    }

    void windowRunThroughTheDialog()
    {
        QTemporaryDir dir;
        // A no-break space is a character of its own: it must reach the run as typed.
        writeFile(dir.filePath("a.htm"), "one\xC2\xA0two one two");
        writeFile(dir.filePath("b.htm"), "nothing");
        FakeServices fakes;
        fakes.places.program = dir.path();
        fakes.places.working = dir.path();
        frmMain window(fakes.services());
        window.useSettingsFile(dir.filePath("store.conf"));
        window.startUp();
        QVERIFY(window.setDir1Path(dir.path(), nullptr));
        window.setProgressDelay(0);
        window.show();
        QTest::mouseClick(window.cmdSelectAll, Qt::LeftButton);
        window.txtFindString->setFocus();
        QTest::keyClicks(window.txtFindString, QStringLiteral(u"one\u00A0two"));
        QTest::keyClicks(window.txtReplaceString, QStringLiteral("1-2"));
        QTest::mouseClick(window.cmdReplace, Qt::LeftButton);
        QCOMPARE(window.txtResults->toPlainText(), "a.htm:  replaced\nb.htm:  not found");
        QCOMPARE(readFile(dir.filePath("a.htm")), QByteArray("1-2 one two"));
        QCOMPARE(window.FindString, QStringLiteral(u"one\u00A0two"));
        QVERIFY(!progressDialog());
    }
};

QTEST_MAIN(tst_RunProgress)
#include "tst_runprogress.moc"
