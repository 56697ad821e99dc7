#pragma once
// A single-selection list box with the reads the editor's guards rely on: the selection
// is -1 when nothing is selected, and a read at -1 or past the end gives empty text.

#include <QListWidget>
#include <QStringList>

class ListBox : public QListWidget {
    Q_OBJECT

public:
    explicit ListBox(QWidget* parent = nullptr);
    ~ListBox() override;

    /// The selected row, or -1 when no entry is selected.
    int listIndex() const;
    /// Selects row (and makes it current); -1 clears the selection.
    void setListIndex(int row);
    /// The entry at row; empty text for -1 or any row at or past the end.
    QString listText(int row) const;
    /// Every entry, in order.
    QStringList entries() const;

    /// A scrollable width in pixels: the horizontal scroll bar reaches at least this far,
    /// further if an entry is wider. 0 leaves the width to the entries alone.
    void setHorizontalExtent(int pixels);
    int horizontalExtent() const { return m_extent; }

    /// The width in pixels of the widest entry (estimated from the longest ones).
    int widestEntry() const { return m_widest; }

protected:
    void updateGeometries() override;

private:
    class RowDelegate;
    void measureRows(int first, int last);

    int m_extent = 0;
    int m_widest = 0;
};
