// SPDX-License-Identifier: MIT
#pragma once

#include "engine/text/TextCodec.h"
#include "platform/Services.h"
#include "ui/frmViewer/ViewerSave.h"

#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// Shows one file's text. Created on first use and deleted when closed, so
// holders keep a QPointer to it.
class frmViewer : public QWidget {
    Q_OBJECT
public:
    explicit frmViewer(QWidget *parent = nullptr);
    // services.messages shows why a Save failed; without it the reason only
    // goes to the log.
    explicit frmViewer(const Services &services, QWidget *parent = nullptr);

    // The largest file the viewer loads. The text box lays out the whole
    // text on the window's thread; measured with QPlainTextEdit on a loaded
    // 2-core VM (lines of 77 characters, offscreen): 1 MB took 0.46 s to show
    // and 38 MB of memory, 8 MB 3.8 s and 116 MB, 32 MB 17 s and 386 MB,
    // 64 MB 34 s and 746 MB. Past 8 MiB the wait and the memory outgrow what a
    // quick look at a file is worth.
    static constexpr qint64 maxViewedSize = qint64(8) << 20;

    // Shows the file's text, decoded as UTF-8 when valid and Latin-1 otherwise,
    // and its full path, readably, in txtSave. On failure the viewer is left as it was.
    // A file over maxViewedSize is refused with a message naming its size.
    bool loadFile(const vexalo::FilePath &path, QString *error);
    // The sentence that refuses a file too large for the viewer; empty when
    // the viewer would show it. Asked before a viewer is opened for the file.
    static QString tooLargeMessage(const vexalo::FilePath &path);
    // Reads the file shown again.
    bool reload(QString *error);
    // The file shown, as it names the file (txtSave shows it for reading only).
    vexalo::FilePath path() const { return m_path; }
    // The encoding the shown file was read with, so that saving keeps its bytes.
    vexalo::FileEncoding encoding() const { return m_loaded.encoding; }

    QPlainTextEdit *txtViewer = nullptr;
    QPushButton *cmdSave = nullptr;
    QLineEdit *txtSave = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void describeForAssistiveTools();
    // The file's size when it is over maxViewedSize, else 0.
    static qint64 oversize(const vexalo::FilePath &path);
    static QString tooLargeReason(qint64 size);
    // The text box follows the window's outer size.
    void applyLayout();
    // Writes the shown text to the file shown; a failure leaves
    // the file and both boxes as they were and says why.
    void cmdSaveClick();

    Services m_services;
    LoadedText m_loaded;
    vexalo::FilePath m_path;
};
