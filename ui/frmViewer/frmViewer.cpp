// SPDX-License-Identifier: MIT
#include "frmViewer.h"

#include "engine/files/FileOps.h"
#include "ui/common/KeyboardAccess.h"
#include "ui/common/Twips.h"
#include "ui/frmViewer/ViewerLayout.h"
#include "ui/help/WindowIcons.h"

#include <QApplication>
#include <QDebug>
#include <QEventLoop>
#include <QLocale>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTextDocument>

#include <atomic>
#include <thread>
#include <utility>

#include <sys/stat.h>

// The file shown is named by a FilePath only: these would look up another
// file when its name is not UTF-8.
#pragma GCC poison QFile QFileInfo QDir QSaveFile

frmViewer::frmViewer(QWidget *parent)
    : frmViewer(Services{}, parent)
{
}

frmViewer::frmViewer(const Services &services, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_services(services)
{
    setObjectName(QStringLiteral("frmViewer"));
    setWindowTitle(tr("Viewer"));
    setWindowIcon(WindowIcons::viewer());
    setAttribute(Qt::WA_DeleteOnClose);
    resize(twips::toPixels(6975), twips::toPixels(6735));

    txtViewer = new QPlainTextEdit(this);
    txtViewer->setObjectName(QStringLiteral("txtViewer"));
    txtViewer->setGeometry(twips::toPixelRect(120, 600, 6735, 6015));
    txtViewer->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtViewer->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtViewer->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    cmdSave = new QPushButton(tr("Save"), this);
    cmdSave->setObjectName(QStringLiteral("cmdSave"));
    cmdSave->setGeometry(twips::toPixelRect(120, 120, 855, 375));

    txtSave = new QLineEdit(this);
    txtSave->setObjectName(QStringLiteral("txtSave"));
    txtSave->setGeometry(twips::toPixelRect(1200, 120, 5655, 285));
    txtSave->setReadOnly(true);

    setTabOrder(txtViewer, cmdSave);
    setTabOrder(cmdSave, txtSave);

    connect(cmdSave, &QPushButton::clicked, this, &frmViewer::cmdSaveClick);

    QString taken;
    keyboard::addAccessKey(cmdSave, QLatin1Char('s'), taken);
    keyboard::pressOnEnter(cmdSave);
    keyboard::ignoreAltTyping(txtViewer);
    // Ctrl+S saves wherever the focus is, as in every editor.
    auto *saveKey = new QShortcut(QKeySequence::Save, this);
    connect(saveKey, &QShortcut::activated, this, &frmViewer::cmdSaveClick);
    describeForAssistiveTools();
}

void frmViewer::describeForAssistiveTools()
{
    txtViewer->setAccessibleName(tr("File text"));
    cmdSave->setAccessibleDescription(tr("Writes the text back to the file, in its own encoding and line breaks."));
    txtSave->setAccessibleName(tr("File name"));
}

bool frmViewer::loadFile(const vexalo::FilePath &path, QString *error)
{
    auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    auto tooLarge = [&](qint64 size) { return fail(tooLargeReason(size)); };
    // Refused before a byte is read: a file of hundreds of megabytes would
    // otherwise be held several times over in memory.
    if (const qint64 size = oversize(path); size > 0)
        return tooLarge(size);

    // Reading and decoding run on their own thread while the window's events
    // go on (repaints, timers), under a busy cursor; user input waits, so no
    // second command starts in the middle of this one.
    struct Decoded {
        vexalo::ReadResult read;
        LoadedText loaded;
        QString text;
    };
    Decoded decoded;
    QEventLoop loop;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        decoded.read = vexalo::readWholeFile(path);
        if (decoded.read.status.ok() && decoded.read.data.size() <= maxViewedSize) {
            decoded.loaded.encoding = vexalo::detectEncoding(decoded.read.data);
            decoded.loaded.lineBreak = ViewerSave::dominantLineBreak(decoded.read.data, decoded.loaded.encoding);
            decoded.text = vexalo::decodeText(decoded.read.data, decoded.loaded.encoding);
        }
        finished = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();

    const vexalo::ReadResult &read = decoded.read;
    if (!read.status.ok()) {
        QApplication::restoreOverrideCursor();
        return fail(read.status.error);
    }
    if (read.data.size() > maxViewedSize) {
        // It grew between the look at its size and the read.
        QApplication::restoreOverrideCursor();
        return tooLarge(read.data.size());
    }
    LoadedText loaded = std::move(decoded.loaded);
    txtViewer->setPlainText(decoded.text);
    loaded.shownRaw = txtViewer->document()->toRawText();
    loaded.bytes = read.data;
    loaded.onDisk = read.info;
    m_loaded = std::move(loaded);
    m_path = path;
    txtSave->setText(path.display());
    QApplication::restoreOverrideCursor();
    return true;
}

qint64 frmViewer::oversize(const vexalo::FilePath &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > maxViewedSize)
        return qint64(info.st_size);
    return 0;
}

QString frmViewer::tooLargeReason(qint64 size)
{
    const QLocale locale;
    return tr("it is too large for the viewer: %1, where the viewer shows files of up to %2")
        .arg(locale.formattedDataSize(size), locale.formattedDataSize(maxViewedSize));
}

QString frmViewer::tooLargeMessage(const vexalo::FilePath &path)
{
    const qint64 size = oversize(path);
    if (size <= 0)
        return {};
    const QLocale locale;
    return tr("\"%1\" is too large for the viewer. It is %2; the viewer shows files of up to %3.")
        .arg(path.display(), locale.formattedDataSize(size), locale.formattedDataSize(maxViewedSize));
}

bool frmViewer::reload(QString *error)
{
    return loadFile(m_path, error);
}

void frmViewer::cmdSaveClick()
{
    // The raw text, not toPlainText(), which turns no-break spaces into blanks.
    const QString raw = txtViewer->document()->toRawText();
    const auto confirm = [this](const MessageRequest &question) {
        // With no way to ask, the file another program changed is kept.
        return m_services.messages && m_services.messages->show(this, question) == MessageAnswer::Ok;
    };
    const std::optional<MessageRequest> failure = ViewerSave::save(m_path, m_loaded, raw, confirm);
    if (!failure)
        return;
    if (m_services.messages)
        m_services.messages->show(this, *failure);
    else
        qWarning().noquote() << failure->text;
}

void frmViewer::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    applyLayout();
}

void frmViewer::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    // The window manager adds its frame after the first show, which moves the
    // client area without resizing it; the outer size has changed all the same.
    applyLayout();
}

void frmViewer::applyLayout()
{
    const twips::WindowGeometry outer = twips::outerGeometry(this);
    const ViewerLayout::Size current{twips::fromPixels(txtViewer->width()), twips::fromPixels(txtViewer->height())};
    const ViewerLayout::Size size = ViewerLayout::textBoxSize(outer.width, outer.height, current);
    txtViewer->resize(twips::toPixels(size.width), twips::toPixels(size.height));
}
