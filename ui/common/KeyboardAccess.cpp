// SPDX-License-Identifier: MIT
#include "KeyboardAccess.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>

namespace {

class EnterPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
            auto *button = qobject_cast<QAbstractButton *>(watched);
            if (enter && button && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                button->click();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

namespace keyboard {

QString withAccessKey(const QString &caption, QChar preferred, QString &taken)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != QLatin1Char('&'))
            continue;
        if (caption[i + 1] != QLatin1Char('&')) {
            taken += caption[i + 1].toLower();
            return caption;
        }
        ++i; // "&&" is a literal ampersand
    }
    qsizetype at = taken.contains(preferred.toLower()) ? -1 : caption.indexOf(preferred, 0, Qt::CaseInsensitive);
    for (qsizetype i = 0; at < 0 && i < caption.size(); ++i) {
        if (caption[i].isLetterOrNumber() && !taken.contains(caption[i].toLower()))
            at = i;
    }
    if (at < 0)
        return caption;
    taken += caption[at].toLower();
    return caption.left(at) + QLatin1Char('&') + caption.mid(at);
}

void addAccessKey(QAbstractButton *button, QChar preferred, QString &taken)
{
    button->setText(withAccessKey(button->text(), preferred, taken));
}

void pressOnEnter(QAbstractButton *button)
{
    button->installEventFilter(new EnterPresses(button));
}

} // namespace keyboard
