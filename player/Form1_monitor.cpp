// The playback monitor: every 10 ms it rewrites the time display and, when the current
// track is over (or its intro has played), moves the player on to the next entry.

#include "player/Form1.h"

#include "platform/desktop/MessageBox.h"
#include "player/ClickLabel.h"
#include "player/PlayOrder.h"
#include "player/TimeText.h"
#include "sequencer/clsMIDI.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>

#include <optional>

using sequora::platform::MsgBox;
using namespace sequora::player;

namespace {

// An intro is the first 15 seconds of a track; shorter tracks play whole.
constexpr int64_t kIntroUnits = 150;

const QString kUnexpectedError = QStringLiteral("予期せぬエラーが起こりました。");

// Whether the pass through the Playlist that began at its first entry has met a track
// the device could play. It is the monitor's only memory between runs, and exists only
// so that a Playlist of broken files under continuous play stops after one pass instead
// of cycling for ever. Kept as a dynamic property so that it lives and dies with the
// window; unset (no pass begun at entry 1 yet) counts as played.
const char* const kPassPlayedProperty = "sequoraPassPlayedSomething";

bool passPlayedSomething(const Form1& form)
{
    const QVariant played = form.property(kPassPlayedProperty);
    return !played.isValid() || played.toBool();
}

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

    clsMIDI& midi = device();

    // The time display.
    const std::optional<int64_t> position = unitsFromReply(midi.Position());
    int64_t shown = position.value_or(0);
    if (!mnuViewTime1->isChecked()) {
        const int64_t length = midi.Length();
        shown = position ? length - *position : 0;
    }
    // A hundred ticks a second: repaint only when the text moves on.
    if (const QString text = timeText(shown); text != Label3->text())
        Label3->setText(text);

    // The end threshold.
    int64_t threshold = 0;
    if (mnuIntoPlay->isChecked()) {
        threshold = midi.Length() > kIntroUnits ? kIntroUnits : midi.Length();
    } else {
        threshold = midi.Length();
    }

    // A track without an answer (missing file, not a MIDI file) or without any length
    // has nothing to play: it is over while the player is meant to be playing it, and
    // left alone while it is only loaded or paused.
    const std::optional<int64_t> now = unitsFromReply(midi.Position());
    const bool playable = now.has_value() && threshold > 0;
    if (playable) {
        setProperty(kPassPlayedProperty, true);
        if (*now < threshold)
            return;
    } else {
        if (Combo1->currentIndex() == 0)
            setProperty(kPassPlayedProperty, false); // a pass starting on a dud
        if (!isPlayingState(*this))
            return;
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
        device().FileName(QFile::encodeName(Text1->text()).toStdString());
        Label7->setText(trackNumberText(Combo1->currentIndex() + 1));
        setLoadedPattern();
        Command3_Click();
        return;
    }

    // The end of the Playlist. Continuous play starts over, unless the whole pass just
    // ended found nothing to play: then starting over would only cycle through the same
    // broken entries for ever.
    const bool passPlayed = passPlayedSomething(*this);
    Command8_Click();
    if (mnuRenPlay->isChecked() && passPlayed && count > 0)
        Command3_Click();
}
