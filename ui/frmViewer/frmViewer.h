// SPDX-License-Identifier: MIT
#pragma once

#include "engine/TextCodec.h"

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

    // Shows the file's text, decoded as UTF-8 when valid and Latin-1 otherwise,
    // and its full path in txtSave. On failure the viewer is left as it was.
    bool loadFile(const QString &path, QString *error);
    // Reads the file named in txtSave again.
    bool reload(QString *error);
    // The encoding the shown file was read with, so that saving keeps its bytes.
    vexalo::FileEncoding encoding() const { return m_encoding; }

    QPlainTextEdit *txtViewer = nullptr;
    QPushButton *cmdSave = nullptr;
    QLineEdit *txtSave = nullptr;

private:
    vexalo::FileEncoding m_encoding = vexalo::FileEncoding::Utf8;
};
