// SPDX-License-Identifier: MIT
#include "Twips.h"

#include <QEvent>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <optional>

namespace twips {

int toPixels(float twips)
{
    return static_cast<int>(std::lround(twips / perPixel));
}

float fromPixels(int pixels)
{
    return static_cast<float>(pixels) * perPixel;
}

QRect toPixelRect(float left, float top, float width, float height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

WindowGeometry outerGeometry(const QWidget *window)
{
    const QRect frame = window->frameGeometry();
    return {fromPixels(frame.x()), fromPixels(frame.y()), fromPixels(frame.width()), fromPixels(frame.height())};
}

namespace {

QSize frameExtra(const QWidget *window)
{
    return window->frameGeometry().size() - window->geometry().size();
}

void applyOuterPosition(QWidget *window, const QPoint &pixels)
{
    // For a top-level widget, move() places the frame, not the client area,
    // both before the window exists (the frame is added around it) and after.
    window->move(pixels);
}

void applyOuterSize(QWidget *window, const QSize &pixels)
{
    const QSize extra = frameExtra(window);
    window->resize(std::max(1, pixels.width() - extra.width()), std::max(1, pixels.height() - extra.height()));
}

const char pendingName[] = "twipsPendingOuterGeometry";

// A window's frame is only known once it is shown and the window system has
// framed it; until then it counts as zero, and an outer size set then comes
// out larger by the frame. The main window, whose stored outer size is set at
// every start before it is shown, would grow by its frame at every restart.
// So the outer geometry asked for before the frame is known is kept here and
// set again, once, as soon as the frame is. A window that never gets a frame
// (no window manager) needs nothing more: its outer size is its size.
class PendingOuterGeometry : public QObject {
public:
    explicit PendingOuterGeometry(QWidget *window)
        : QObject(window)
        , m_window(window)
    {
        setObjectName(QLatin1String(pendingName));
        window->installEventFilter(this);
    }

    static PendingOuterGeometry *of(QWidget *window)
    {
        auto *pending =
            window->findChild<PendingOuterGeometry *>(QLatin1String(pendingName), Qt::FindDirectChildrenOnly);
        return pending ? pending : new PendingOuterGeometry(window);
    }

    std::optional<QPoint> position;
    std::optional<QSize> size;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_window)
            return false;
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowActivate:
        case QEvent::Paint: break;
        case QEvent::Hide:
        case QEvent::Close:
        case QEvent::WindowStateChange:
            // Whatever the window is given from here on is no longer what was
            // asked for before it was shown.
            drop();
            return false;
        default: return false;
        }
        if (!m_window->isVisible() || frameExtra(m_window).isNull())
            return false;
        drop();
        if (m_window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
            return false;
        // Only what came out wrong is set again: a window system may treat a
        // move after showing differently from the placement it made itself.
        if (size && m_window->frameGeometry().size() != *size)
            applyOuterSize(m_window, *size);
        if (position && m_window->frameGeometry().topLeft() != *position)
            applyOuterPosition(m_window, *position);
        return false;
    }

private:
    void drop()
    {
        m_window->removeEventFilter(this);
        setObjectName(QString());
        deleteLater();
    }

    QWidget *m_window;
};

// Whether the frame the window will wear is still unknown.
bool frameUnknown(const QWidget *window)
{
    return window->isWindow() && (!window->isVisible() || frameExtra(window).isNull());
}

} // namespace

void setOuterPosition(QWidget *window, float left, float top)
{
    const QPoint pixels(toPixels(left), toPixels(top));
    applyOuterPosition(window, pixels);
    if (frameUnknown(window))
        PendingOuterGeometry::of(window)->position = pixels;
}

void setOuterSize(QWidget *window, float width, float height)
{
    const QSize pixels(toPixels(width), toPixels(height));
    applyOuterSize(window, pixels);
    if (frameUnknown(window))
        PendingOuterGeometry::of(window)->size = pixels;
}

void setOuterGeometry(QWidget *window, const WindowGeometry &geometry)
{
    setOuterSize(window, geometry.width, geometry.height);
    setOuterPosition(window, geometry.left, geometry.top);
}

} // namespace twips
