// SPDX-License-Identifier: MIT
#include "RunProgress.h"

#include "engine/files/FileNames.h"
#include "engine/files/FileOps.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <thread>

vexalo::RunSummary RunProgress::run(QWidget *parent, const QString &title, int total, int showAfterMs, const Run &run)
{
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};
    vexalo::RunControl control;
    control.fileDone = [&](const vexalo::FileResult &, int) { done.fetch_add(1, std::memory_order_relaxed); };
    control.stopRequested = [&] { return stop.load(std::memory_order_relaxed); };
    // Many small files go faster with a few in work at once; results still come in list order.
    control.parallelFiles = qMax(1, QThread::idealThreadCount());
    // A file another program keeps locked is waited for, within one period
    // for the whole run; the dialog says which file it waits for, or the
    // run would look hung.
    std::mutex waitingMutex;
    QString waitingFor;
    control.lockWaits = std::make_shared<vexalo::LockWaits>();
    control.lockWaits->onWait = [&](const QString &path) {
        std::lock_guard lock(waitingMutex);
        waitingFor = path;
    };

    vexalo::RunSummary summary;
    QEventLoop loop;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        summary = run(control);
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });

    QApplication::setOverrideCursor(Qt::WaitCursor);
    // A short run ends before anyone notices: no dialog, and no input reaches
    // the windows meanwhile, so no second command can start in the middle.
    QTimer grace;
    grace.setSingleShot(true);
    QObject::connect(&grace, &QTimer::timeout, &loop, &QEventLoop::quit);
    grace.start(showAfterMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (!finished) {
        // Application-modal: the Stop button is the only thing the user can press.
        // Sized for the longer of its two texts before it shows, so that Stop
        // changing the text neither moves the dialog nor resizes it.
        const QString stopping = tr("Stopping after the files in work...");
        QProgressDialog progress(stopping, tr("Stop"), 0, total, parent);
        const QSize roomy = progress.sizeHint();
        const QString working = tr("Working through %Ln files...", nullptr, total);
        progress.setLabelText(working);
        progress.resize(roomy.expandedTo(progress.sizeHint()));
        progress.setWindowTitle(title);
        progress.setWindowModality(Qt::ApplicationModal);
        progress.setMinimumDuration(0);
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        progress.setObjectName(QStringLiteral("runProgress"));
        QObject::connect(&progress, &QProgressDialog::canceled, [&] {
            stop = true;
            progress.setLabelText(stopping);
        });
        QString shownWait;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            progress.setValue(done.load(std::memory_order_relaxed));
            QString wait;
            {
                std::lock_guard lock(waitingMutex);
                wait = waitingFor;
            }
            if (wait == shownWait)
                return;
            shownWait = wait;
            if (stop)
                return; // the stop's text stays
            progress.setLabelText(wait.isEmpty()
                                      ? working
                                      : tr("Waiting for another program to let go of %1 (at most a minute for the "
                                           "whole run)...")
                                            .arg(vexalo::displayName(wait.section(QLatin1Char('/'), -1))));
        });
        tick.start(100);
        progress.show();
        if (!finished)
            loop.exec();
        tick.stop();
    }
    worker.join();
    QApplication::restoreOverrideCursor();
    return summary;
}
