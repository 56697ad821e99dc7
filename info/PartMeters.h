#pragma once
// The level bars and keyboards of all the parts' rows in one widget, so a tick that
// changes many of them repaints once, and only the rows that changed.

#include "info/KeyStrip.h"
#include "info/PartLevel.h"

#include <QPixmap>
#include <QVector>
#include <QWidget>

class PartMeters : public QWidget {
    Q_OBJECT

public:
    /// Rows @p pitch apart, each a level bar @p levelWidth wide, then the keyboard from
    /// @p keysLeft; all @p rowHeight high.
    PartMeters(int rows, int pitch, int rowHeight, int levelWidth, int keysLeft,
        QWidget* parent = nullptr);

    /// Row @p row's level and keys now, @p elapsedMs after the last.
    void setRow(int row, int level, const KeyStrip::Keys& keys, int elapsedMs);
    /// Nothing sounds: every bar and key goes out.
    void silence();

    int level(int row) const { return m_levels[row].level(); }
    const KeyStrip::Keys& keys(int row) const { return m_keys[row]; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect levelRect(int row) const;
    QRect keysRect(int row) const;

    int m_pitch;
    int m_rowHeight;
    int m_levelWidth;
    int m_keysLeft;
    QVector<PartLevel> m_levels;
    QVector<KeyStrip::Keys> m_keys;
    QPixmap m_keyboard; ///< one row's keyboard at rest
};
