// SPDX-License-Identifier: MIT
#include "CutOffToolTipDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QToolTip>

CutOffToolTipDelegate::CutOffToolTipDelegate(int toolTipRole, int indentRole, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_toolTipRole(toolTipRole)
    , m_indentRole(indentRole)
{
}

QStyleOptionViewItem CutOffToolTipDelegate::indented(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem shifted = option;
    if (m_indentRole >= 0)
        shifted.rect.adjust(8 * index.data(m_indentRole).toInt(), 0, 0, 0);
    return shifted;
}

void CutOffToolTipDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, indented(option, index), index);
}

bool CutOffToolTipDelegate::isCutOff(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem item = indented(option, index);
    initStyleOption(&item, index);
    const QWidget *widget = item.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
    // A row wider than the list is not elided but runs past the visible edge.
    if (const auto *view = qobject_cast<const QAbstractItemView *>(widget))
        textRect = textRect.intersected(view->viewport()->rect());
    // The style draws the text inside a margin on either side.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    return item.fontMetrics.horizontalAdvance(item.text) > textRect.width() - 2 * margin;
}

bool CutOffToolTipDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                      const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (!isCutOff(option, index)) {
        QToolTip::hideText();
        return false;
    }
    QToolTip::showText(event->globalPos(), index.data(m_toolTipRole).toString(), view->viewport(),
                       view->visualRect(index));
    return true;
}
