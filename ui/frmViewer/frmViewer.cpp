// SPDX-License-Identifier: MIT
#include "frmViewer.h"

#include "engine/FileOps.h"
#include "ui/common/Twips.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

frmViewer::frmViewer(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmViewer"));
    setWindowTitle(tr("Viewer"));
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
}

bool frmViewer::loadFile(const QString &path, QString *error)
{
    const vexalo::ReadResult read = vexalo::readWholeFile(path);
    if (!read.status.ok()) {
        if (error)
            *error = read.status.error;
        return false;
    }
    m_encoding = vexalo::detectEncoding(read.data);
    txtViewer->setPlainText(vexalo::decodeText(read.data, m_encoding));
    txtSave->setText(path);
    return true;
}

bool frmViewer::reload(QString *error)
{
    return loadFile(txtSave->text(), error);
}
