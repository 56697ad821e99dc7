// The playback monitor: every 10 ms it rewrites the time display and, when the current
// track is over (or its intro has played), moves the player on to the next entry. While
// nothing it reads can move by itself (stopped, paused) its timer rests, and each event
// procedure runs it once on return instead (Form1::EventScope).

#include "player/Form1.h"

#include "info/frmLyrics.h"
#include "info/frmParts.h"
#include "platform/desktop/MessageBox.h"
#include "player/ClickLabel.h"
#include "player/PlayOrder.h"
#include "player/TimeText.h"
#include "sequencer/clsMIDI.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>

#include <optional>
#include <string>

using sequora::platform::MsgBox;
using namespace sequora::player;

namespace {

// An intro is the first 15 seconds of a track; shorter tracks play whole.
constexpr int64_t kIntroUnits = 150;

const QString kUnexpectedError = QStringLiteral("予期せぬエラーが起こりました。");
const std::string kPlaying = "PLAYING";

bool isPlayingState(const Form1& form)
{
    // The device says nothing about a file it could not open, so the controls decide.
    return form.Command4->isEnabled() && !form.Command3->isEnabled();
}

} // namespace

void Form1::Timer1_Timer()
{
    // Ticks go on arriving while a message box of this run is open; they must not
    // decide again and stack a second box on the first.
    if (m_inMonitor)
        return;
    const QScopedValueRollback inMonitor(m_inMonitor, true);
    m_monitorSettled = false;

    clsMIDI& midi = device();

    // One reading of each serves the whole run: a hundred runs a second while playing,
    // and the length cannot change under an open file.
    const std::optional<int64_t> position = unitsFromReply(midi.Position());
    const int64_t length = midi.Length();

    // The lyrics window follows this reading: it asks the device nothing of its own.
    m_monitorUnits = position.value_or(0);
    if (m_lyrics)
        m_lyrics->follow(midi.FileName(), m_monitorUnits);
    // The parts window samples on its own timer, only while the song plays.
    if (m_parts)
        m_parts->follow();

    // The time display, rewritten only when the second shown moves on.
    int64_t shown = position.value_or(0);
    if (!mnuViewTime1->isChecked())
        shown = position ? length - *position : 0;
    if (const int64_t seconds = shown > 0 ? displayedSeconds(shown) : 0;
        seconds != m_shownSeconds) {
        Label3->setText(timeText(shown));
        m_shownSeconds = seconds;
    }

    // The end threshold: an intro is the first 15 seconds, a shorter track plays whole.
    const int64_t threshold
        = mnuIntoPlay->isChecked() && length > kIntroUnits ? kIntroUnits : length;

    // A track without an answer (missing file, not a MIDI file) or without any length
    // has nothing to play: it is over while the player is meant to be playing it, and
    // left alone while it is only loaded or paused.
    const bool playable = position.has_value() && threshold > 0;
    if (playable) {
        m_passPlayedSomething = true;
        if (*position < threshold) {
            m_monitorSettled = true;
            return;
        }
    } else {
        if (Combo1->currentIndex() == 0)
            m_passPlayedSomething = false; // a pass starting on a dud
        if (!isPlayingState(*this)) {
            m_monitorSettled = true;
            return;
        }
    }

    const int index = Combo1->currentIndex();
    const int count = Combo1->count();
    if (index != count - 1) {
        const int next = mnuRandPlay->isChecked() ? randomNextIndex(count, drawFromClock())
                                                  : index + 1;
        Text1->setText(listText(next));
        // An empty entry is not selected, so the selection and the loaded file stay as
        // they were and only this one message is shown.
        if (Text1->text().isEmpty()) {
            MsgBox(kUnexpectedError, this);
            return;
        }
        // By index: a path that occurs twice must not send the player back to its first
        // copy.
        selectEntry(next);
        device().FileName(entryFile(next).toStdString());
        Label7->setText(trackNumberText(Combo1->currentIndex() + 1));
        setLoadedPattern();
        Command3_Click();
        return;
    }

    // The end of the Playlist. Continuous play starts over, unless the whole pass just
    // ended found nothing to play: then starting over would only cycle through the same
    // broken entries for ever.
    const bool startOver = mnuRenPlay->isChecked() && m_passPlayedSomething && count > 0;
    // With nothing selected the stop does nothing: unless the list starts over, the run
    // changed nothing and the next one would decide the same.
    m_monitorSettled = Combo1->currentText().isEmpty() && !startOver;
    Command8_Click();
    if (startOver)
        Command3_Click();
}

bool Form1::trackLoaded() const
{
    return Timer1->interval() > 0 && !m_unloading;
}

bool Form1::monitorMayRest()
{
    // Not mid-run (a box of the monitor is open), not with a decision just taken, and
    // only while the position stands still: the device neither plays nor is meant to.
    if (m_unloading)
        return true;
    if (m_inMonitor || !m_monitorSettled || isPlayingState(*this))
        return false;
    return device().Mode() != kPlaying;
}

void Form1::restMonitorIfSettled()
{
    if (!Timer1->isActive() || !monitorMayRest())
        return;
    Timer1->stop();
    emit caughtUp();
}

void Form1::catchUpMonitor()
{
    // The run a tick would have made after the procedure, now rather than at the next
    // tick: a resting monitor has none coming. Then the timer ticks only while it must.
    if (trackLoaded()) {
        {
            // What the run calls is part of the run, not a new event to catch up with.
            const QScopedValueRollback inRun(m_eventDepth, m_eventDepth + 1);
            Timer1_Timer();
        }
        if (!monitorMayRest()) {
            if (!Timer1->isActive())
                Timer1->start();
        } else {
            Timer1->stop();
        }
    }
    emit caughtUp();
}
