// The lower row of transport buttons: previous track, step back, step forward, next
// track. Each ends with a run of the monitor, so the display follows at once and a jump
// to the end of a track moves on to the next entry at once.

#include "player/Form1.h"

#include "platform/desktop/MessageBox.h"
#include "player/ClickLabel.h"
#include "player/TimeText.h"
#include "sequencer/clsMIDI.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>

#include <string>

using sequora::platform::MsgBox;
using sequora::player::trackNumberText;
using sequora::player::unitsFromReply;

namespace {

constexpr int64_t kSeekStep = 10;
// Within the last 20 units a step forward jumps to the end: it never lands in the last
// 10 units of a track.
constexpr int64_t kEndGuard = 20;
// Previous track restarts the current track once more than this has played.
constexpr int64_t kRestartAfter = 10;

const QString kUnexpectedError = QStringLiteral("予期せぬエラーが起こりました。");
const std::string kPlaying = "PLAYING";
const std::string kStart = "START";
const std::string kEnd = "END";

// A device without an answer (a file it could not open) stands at the start.
int64_t positionOf(clsMIDI& midi)
{
    return unitsFromReply(midi.Position()).value_or(0);
}

} // namespace

void Form1::Command9_Click()
{
    const int64_t p = positionOf(device());
    if (p <= kRestartAfter) {
        if (Combo1->currentIndex() != 0) {
            const int previous = Combo1->currentIndex() - 1;
            Text1->setText(listText(previous));
            if (Text1->text().isEmpty()) {
                // The monitor stays out while the box is open: one box at a time.
                const QScopedValueRollback quiet(m_inMonitor, true);
                MsgBox(kUnexpectedError, this);
                return;
            }
            selectEntry(previous);
            device().FileName(entryFile(previous).toStdString());
            Label7->setText(trackNumberText(Combo1->currentIndex() + 1));
            setLoadedPattern();
            Command3_Click();
        }
    } else if (device().Mode() == kPlaying) {
        Command4_Click();
        device().Position(kStart);
        Command3_Click();
    } else {
        device().Position(kStart);
    }
    Timer1_Timer();
}

void Form1::Command11_Click()
{
    const bool playing = device().Mode() == kPlaying;
    if (playing)
        Command4_Click();
    if (positionOf(device()) > kSeekStep)
        device().Position(std::to_string(positionOf(device()) - kSeekStep));
    else
        device().Position(kStart);
    if (playing)
        Command3_Click();
    Timer1_Timer();
}

void Form1::Command12_Click()
{
    const bool playing = device().Mode() == kPlaying;
    if (playing)
        Command4_Click();
    const int64_t length = device().Length();
    if (positionOf(device()) < length - kEndGuard)
        device().Position(std::to_string(positionOf(device()) + kSeekStep));
    else
        device().Position(kEnd);
    if (playing)
        Command3_Click();
    Timer1_Timer();
}

void Form1::Command6_Click()
{
    // A track the device could not open has no end to seek to; outside the playing
    // state the monitor would leave it alone, so put the player in that state first
    // and the monitor moves on exactly as from a track that has ended.
    if (!unitsFromReply(device().Position()) && !(Command4->isEnabled() && !Command3->isEnabled()))
        Command3_Click();
    device().Position(kEnd);
    Timer1_Timer();
}
