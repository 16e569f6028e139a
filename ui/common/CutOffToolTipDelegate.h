// SPDX-License-Identifier: MIT
#pragma once

#include <QStyledItemDelegate>

// Draws a list's entries as usual, optionally indented, and gives an entry
// whose text does not fit the list a tooltip with the whole of it. An entry
// that is shown whole gets none, so the pointer resting on a list is quiet.
class CutOffToolTipDelegate : public QStyledItemDelegate {
public:
    // toolTipRole: the data the tooltip shows (the whole path of a folder, say);
    // indentRole: the number of 8-pixel steps the entry is indented, or -1.
    explicit CutOffToolTipDelegate(int toolTipRole, int indentRole, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // Whether the entry's text is cut short, by the end of its row or by the
    // list's visible edge.
    bool isCutOff(const QStyleOptionViewItem &option, const QModelIndex &index) const;

private:
    QStyleOptionViewItem indented(const QStyleOptionViewItem &option, const QModelIndex &index) const;

    int m_toolTipRole;
    int m_indentRole;
};
