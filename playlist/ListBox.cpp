#include "playlist/ListBox.h"

#include <QScrollBar>

#include <algorithm>

ListBox::ListBox(QWidget* parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

int ListBox::listIndex() const
{
    // The current row alone is not a selection: the view makes row 0 current on focus.
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

void ListBox::setListIndex(int row)
{
    if (row < 0 || row >= count()) {
        clearSelection();
        setCurrentRow(-1);
        return;
    }
    setCurrentRow(row);
}

QString ListBox::listText(int row) const
{
    if (row < 0 || row >= count())
        return QString();
    return item(row)->text();
}

QStringList ListBox::entries() const
{
    QStringList result;
    result.reserve(count());
    for (int i = 0; i < count(); ++i)
        result.append(item(i)->text());
    return result;
}

void ListBox::setHorizontalExtent(int pixels)
{
    m_extent = std::max(0, pixels);
    // A bar that came and went with the range would resize the view, which resets the
    // range: with an extent the bar stays, as a list box with a scroll width keeps it.
    setHorizontalScrollBarPolicy(m_extent > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    updateGeometries();
}

void ListBox::updateGeometries()
{
    QListWidget::updateGeometries();
    if (m_extent <= 0)
        return;
    QScrollBar* bar = horizontalScrollBar();
    const int reach = m_extent - viewport()->width();
    if (reach > bar->maximum()) {
        bar->setRange(0, reach);
        bar->setPageStep(viewport()->width());
    }
}
