#pragma once
// A single-selection list box with the reads the editor's guards rely on: the selection
// is -1 when nothing is selected, and a read at -1 or past the end gives empty text.
// Each entry may carry the exact bytes of the name or path its text shows.

#include "platform/FileNames.h"

#include <QByteArray>
#include <QList>
#include <QListWidget>
#include <QStringList>

class ListBox : public QListWidget {
    Q_OBJECT

public:
    /// What an entry shows and the name or path on disk it stands for.
    using Entry = sequora::platform::NamedPath;

    explicit ListBox(QWidget* parent = nullptr);
    ~ListBox() override;

    /// The selected row, or -1 when no entry is selected.
    int listIndex() const;
    /// Selects row (and makes it current); -1 clears the selection.
    void setListIndex(int row);
    /// The entry at row; empty text for -1 or any row at or past the end.
    QString listText(int row) const;
    /// Every entry's text, in order.
    QStringList entries() const;

    /// The entry at row with the bytes it carries; empty for -1 or any row at or past the end.
    Entry entry(int row) const;
    /// Rewrites the entry at row, text and bytes.
    void setEntry(int row, const Entry& entry);
    /// Appends entries at the end in one insertion.
    void addEntries(const QList<Entry>& entries);
    /// Inserts entries before row (at the end for a row past it) in one insertion.
    void insertEntries(int row, const QList<Entry>& entries);
    /// Every entry with its bytes, in order.
    QList<Entry> entryList() const;

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
