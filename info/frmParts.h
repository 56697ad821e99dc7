#pragma once
// The parts window: for each part of the song (16, or 32 over a second port) its number,
// the instrument that sounds there, its level and the keys it sounds, with mute and solo
// toggles; at its foot the song's key and tempo and a reset. It reads what sounds from
// the snapshot the engine publishes, on a timer of its own that runs only while the
// window is shown and the song plays, and changes things only by device commands.

#include "platform/midi/transport/PartsSnapshot.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <functional>

class PartMeters;
class QLabel;
class QPushButton;
class QSpinBox;
class QToolButton;

class frmParts : public QWidget {
    Q_OBJECT

public:
    static inline const QString kUnused = QStringLiteral("—");
    /// How often the parts are read while the song plays.
    static constexpr int kSampleIntervalMs = 50;

    /// Runs a change (device commands) as one of the player's event procedures, so the
    /// player shows its outcome at once.
    using Dispatch = std::function<void(const std::function<void()>&)>;

    /// A top-level window with no owner; deletes itself when closed.
    explicit frmParts(Dispatch dispatch);

    /// The player's monitor has run: the sampling timer runs from now on if the window
    /// is shown and the song plays, and rests otherwise, the window then showing the
    /// parts at rest.
    void follow();

    /// A tick of the sampling timer: the parts as now published; the timer stops once
    /// the song no longer plays.
    void tmrSample_Timer();
    /// Shows @p view, read @p elapsedMs after the last; with @p playing false, silence.
    void display(const sequora::midi::PartsView& view, bool playing, int elapsedMs);

    /// Whether the sampling timer runs.
    bool sampling() const { return m_timer.isActive(); }
    /// Parts shown: 16 or 32.
    int rowsShown() const { return m_rowsShown; }

    struct Row {
        QLabel* number = nullptr;
        QLabel* name = nullptr;
        QToolButton* mute = nullptr;
        QToolButton* solo = nullptr;
        sequora::midi::PartView shown; ///< what the row last showed
        bool named = false; ///< shown at all yet
    };
    QVector<Row> rows;
    /// Every row's level bar and keyboard.
    PartMeters* meters = nullptr;
    QSpinBox* spnTranspose = nullptr;
    QSpinBox* spnTempo = nullptr;
    QPushButton* cmdReset = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildRow(QWidget* panel, int part);
    void buildFoot();
    /// Reads the engine's snapshot and shows it; @p playing false shows silence.
    void sample();
    void showRow(int index, const sequora::midi::PartView& part, bool playing, int elapsedMs,
        bool refreshName);
    /// The controls take commands only while a song is open.
    void showOpen(bool open);
    void showRowCount(int count);
    /// Sends a change and shows what the engine made of it.
    void change(const std::function<void()>& commands);

    Dispatch m_dispatch;
    QTimer m_timer;
    QElapsedTimer m_sinceSample;
    QWidget* m_panel = nullptr;
    QWidget* m_foot = nullptr;
    int m_rowsShown = 0;
    uint32_t m_shownSerial = 0;
    bool m_shownPlaying = false;
    int m_shownOpen = -1; ///< 0 or 1 once shown
};
