#include "playlist/ListBox.h"

#include "platform/FileNames.h"

#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <utility>
#include <vector>

using sequora::platform::kNativeNameRole;

namespace {

// Only this many of the longest new entries are measured: measuring every one of ten
// thousand paths would cost more than listing them.
constexpr size_t kMeasuredEntries = 64;

// Characters as wide as two Latin letters count twice (halfwidth katakana once).
int weightedLength(const QString& text)
{
    int length = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        length += (u >= 0x1100 && !(u >= 0xFF61 && u <= 0xFFDC)) ? 2 : 1;
    }
    return length;
}

} // namespace

// Every row has the height of one line and the width of the widest entry, so the view
// lays out thousands of rows without measuring each.
class ListBox::RowDelegate : public QStyledItemDelegate {
public:
    explicit RowDelegate(ListBox& list)
        : QStyledItemDelegate(&list)
        , m_list(list)
    {
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const int margins
            = 2 * (m_list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &m_list) + 1);
        size.setWidth(std::max(size.width(), m_list.widestEntry() + margins));
        return size;
    }

private:
    ListBox& m_list;
};

ListBox::ListBox(QWidget* parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setUniformItemSizes(true);
    setItemDelegate(new RowDelegate(*this));

    connect(model(), &QAbstractItemModel::rowsInserted, this,
        [this](const QModelIndex&, int first, int last) { measureRows(first, last); });
    connect(model(), &QAbstractItemModel::dataChanged, this,
        [this](
            const QModelIndex& from, const QModelIndex& to) { measureRows(from.row(), to.row()); });
    // Removing entries keeps the width: at worst the list scrolls a little too far.
    const auto forgetWhenEmpty = [this] {
        if (count() == 0)
            m_widest = 0;
    };
    connect(model(), &QAbstractItemModel::rowsRemoved, this, forgetWhenEmpty);
    connect(model(), &QAbstractItemModel::modelReset, this, forgetWhenEmpty);
}

ListBox::~ListBox()
{
    // The model outlives this part of the object: it empties itself (a reset) while
    // the QWidget base deletes its children, when this is no list any more.
    disconnect(model(), nullptr, this, nullptr);
}

void ListBox::measureRows(int first, int last)
{
    if (first < 0 || last < first)
        return;
    std::vector<std::pair<int, int>> byLength; // weighted length, row
    byLength.reserve(size_t(last - first + 1));
    for (int row = first; row <= last && row < count(); ++row)
        byLength.emplace_back(weightedLength(item(row)->text()), row);
    const size_t measured = std::min(kMeasuredEntries, byLength.size());
    std::partial_sort(byLength.begin(), byLength.begin() + measured, byLength.end(),
        [](const auto& a, const auto& b) { return a.first > b.first; });
    const QFontMetrics metrics = fontMetrics();
    for (size_t i = 0; i < measured; ++i)
        m_widest = std::max(m_widest, metrics.horizontalAdvance(item(byLength[i].second)->text()));
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

ListBox::Entry ListBox::entry(int row) const
{
    if (row < 0 || row >= count())
        return {};
    const QListWidgetItem* it = item(row);
    return { it->text(), it->data(kNativeNameRole).toByteArray() };
}

void ListBox::setEntry(int row, const Entry& entry)
{
    if (row < 0 || row >= count())
        return;
    // An empty value takes away bytes the row carried before.
    item(row)->setData(kNativeNameRole, entry.native.isEmpty() ? QVariant() : entry.native);
    item(row)->setText(entry.text);
}

void ListBox::addEntries(const QList<Entry>& entries)
{
    insertEntries(count(), entries);
}

void ListBox::insertEntries(int row, const QList<Entry>& entries)
{
    const int first = row < 0 || row > count() ? count() : row;
    QStringList texts;
    texts.reserve(entries.size());
    for (const Entry& entry : entries)
        texts.append(entry.text);
    insertItems(first, texts);
    // The bytes are no part of what is shown: no view needs to hear of them, and
    // measuring ten thousand rows once more for nothing would be slow.
    const QSignalBlocker quiet(model());
    for (int i = 0; i < entries.size(); ++i) {
        if (!entries[i].native.isEmpty())
            item(first + i)->setData(kNativeNameRole, entries[i].native);
    }
}

QList<ListBox::Entry> ListBox::entryList() const
{
    QList<Entry> result;
    result.reserve(count());
    for (int i = 0; i < count(); ++i)
        result.append(entry(i));
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
