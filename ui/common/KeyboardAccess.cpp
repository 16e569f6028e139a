// SPDX-License-Identifier: MIT
#include "KeyboardAccess.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>

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

// Child of the widget it presses, so the accessible interface finds it and
// both go together.
class PressHandler : public QObject {
public:
    PressHandler(QWidget *widget, std::function<void()> press)
        : QObject(widget)
        , press(std::move(press))
    {
        setObjectName(QStringLiteral("keyboard::PressHandler"));
    }
    std::function<void()> press;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool pressKey =
            key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space;
        if (!pressKey || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        press();
        return true;
    }
};

PressHandler *pressHandlerOf(QObject *object)
{
    return object
        ? object->findChild<PressHandler *>(QStringLiteral("keyboard::PressHandler"), Qt::FindDirectChildrenOnly)
        : nullptr;
}

class AltTyping : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        // AltGr is no Alt here: it types the characters it is there for.
        const Qt::KeyboardModifiers mods = key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
        return mods == Qt::AltModifier && !key->text().isEmpty() && key->text().at(0).isPrint();
    }
};

// The label's or the box's own reading, plus a press action.
class PressableWidget : public QAccessibleWidget {
public:
    explicit PressableWidget(QWidget *widget)
        : QAccessibleWidget(widget, qobject_cast<QLineEdit *>(widget) ? QAccessible::EditableText : QAccessible::Button)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        QString own = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && own.isEmpty()) {
            if (auto *label = qobject_cast<QLabel *>(widget()))
                own = QString(label->text()).remove(QLatin1Char('&'));
        }
        if (t == QAccessible::Value) {
            if (auto *box = qobject_cast<QLineEdit *>(widget()))
                own = box->text();
        }
        return own;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (auto *box = qobject_cast<QLineEdit *>(widget()))
            s.readOnly = box->isReadOnly();
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (pressHandlerOf(object()))
            names << pressAction();
        return names;
    }

    void doAction(const QString &name) override
    {
        if (name != pressAction())
            return QAccessibleWidget::doAction(name);
        if (PressHandler *handler = pressHandlerOf(object()))
            handler->press();
    }
};

QAccessibleInterface *pressableFactory(const QString &className, QObject *object)
{
    // By the class alone: the interface may be asked for (and kept) before
    // the press is attached, which it looks up when it is done.
    const bool ours = className == QLatin1String("PressableLabel") || className == QLatin1String("PressableLineEdit");
    if (ours && object && object->isWidgetType())
        return new PressableWidget(static_cast<QWidget *>(object));
    return nullptr;
}

void offerPress(QWidget *widget, std::function<void()> press)
{
    static const bool installed = [] {
        QAccessible::installFactory(pressableFactory);
        return true;
    }();
    Q_UNUSED(installed);
    if (PressHandler *handler = pressHandlerOf(widget))
        handler->press = std::move(press);
    else
        new PressHandler(widget, std::move(press));
}

bool isFree(QChar c, const QString &taken)
{
    return c.isLetterOrNumber() && !taken.contains(c.toLower());
}

} // namespace

namespace keyboard {

QChar accessKeyOf(const QString &caption)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != QLatin1Char('&'))
            continue;
        if (caption[i + 1] != QLatin1Char('&'))
            return caption[i + 1].toLower();
        ++i; // "&&" is a literal ampersand
    }
    return {};
}

QString withAccessKey(const QString &caption, QChar preferred, QString &taken)
{
    // A mark the caption brings is its first choice, not a claim: two
    // translated captions may mark the same letter.
    QString plain;
    qsizetype marked = -1;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) {
            if (caption[i + 1] == QLatin1Char('&'))
                plain += QLatin1String("&&");
            else if (marked < 0)
                marked = plain.size();
            if (caption[i + 1] == QLatin1Char('&'))
                ++i;
            continue;
        }
        plain += caption[i];
    }
    qsizetype at = marked >= 0 && isFree(plain[marked], taken) ? marked : -1;
    if (at < 0 && !preferred.isNull()) {
        const qsizetype p = plain.indexOf(preferred, 0, Qt::CaseInsensitive);
        if (p >= 0 && isFree(plain[p], taken))
            at = p;
    }
    for (qsizetype i = 0; at < 0 && i < plain.size(); ++i) {
        const bool wordStart = i == 0 || !plain[i - 1].isLetterOrNumber();
        if (wordStart && isFree(plain[i], taken) && !(i > 0 && plain[i - 1] == QLatin1Char('&')))
            at = i;
    }
    for (qsizetype i = 0; at < 0 && i < plain.size(); ++i) {
        if (isFree(plain[i], taken) && !(i > 0 && plain[i - 1] == QLatin1Char('&')))
            at = i;
    }
    if (at < 0)
        return plain;
    taken += plain[at].toLower();
    return plain.left(at) + QLatin1Char('&') + plain.mid(at);
}

void addAccessKey(QAbstractButton *button, QChar preferred, QString &taken)
{
    button->setText(withAccessKey(button->text(), preferred, taken));
}

void addAccessKey(QMenu *menu, QChar preferred, QString &taken)
{
    menu->setTitle(withAccessKey(menu->title(), preferred, taken));
}

void pressOnEnter(QAbstractButton *button)
{
    button->installEventFilter(new EnterPresses(button));
}

void pressOnKeys(QWidget *widget, std::function<void()> press)
{
    PressHandler *handler = pressHandlerOf(widget);
    if (!handler)
        handler = new PressHandler(widget, std::move(press));
    else
        handler->press = std::move(press);
    widget->installEventFilter(handler);
}

void ignoreAltTyping(QPlainTextEdit *box)
{
    box->installEventFilter(new AltTyping(box));
}

void offerPressAction(PressableLabel *label, std::function<void()> press)
{
    offerPress(label, std::move(press));
}

void offerPressAction(PressableLineEdit *box, std::function<void()> press)
{
    offerPress(box, std::move(press));
}

} // namespace keyboard
