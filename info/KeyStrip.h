#pragma once
// The keys sounding on one part, on a compact keyboard of all 128: white keys three
// pixels wide, black keys set into their upper part, the sounding ones lit.

#include <QPixmap>
#include <QWidget>

#include <array>
#include <cstdint>

class KeyStrip : public QWidget {
    Q_OBJECT

public:
    using Keys = std::array<uint64_t, 2>; ///< bit n: key n sounds

    static constexpr int kWhiteKeyWidth = 3;
    /// The width the 75 white keys of 0-127 take.
    static int keyboardWidth();

    explicit KeyStrip(QWidget* parent = nullptr);

    void setKeys(const Keys& keys);
    const Keys& keys() const { return m_keys; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    /// Where key @p key lies: its left edge, width and whether it is black.
    static QRect keyRect(int key, int height);

    Keys m_keys {};
    QPixmap m_keyboard; ///< the keys at rest, drawn once per size
};
