#include "player/Form1.h"

#include "info/SongTextLoader.h"
#include "info/frmAbout.h"
#include "info/frmLyrics.h"
#include "info/frmParts.h"
#include "info/frmRead.h"
#include "options/frmSound.h"
#include "sequencer/clsMIDI.h"

namespace {

// Shows a secondary window, whether it has just been made or was behind others.
void showInFront(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

// The windows are modeless and have no owner, so they neither stay above the player
// nor close with a minimised one; each exists at most once and deletes itself on close.

void Form1::mnuHelpAbout_Click()
{
    if (!m_about)
        m_about = new frmAbout();
    showInFront(m_about);
}

void Form1::mnuHelpRead_Click()
{
    if (!m_readme)
        m_readme = new frmRead();
    showInFront(m_readme);
}

void Form1::mnuViewLyrics_Click()
{
    const bool opening = !m_lyrics;
    if (opening)
        m_lyrics = new frmLyrics(*m_songTexts);
    // What the monitor read last: a resting monitor reads nothing until the next event,
    // and the window asks the device nothing itself.
    if (opening)
        m_lyrics->follow(trackLoaded() ? device().FileName() : std::string(), m_monitorUnits);
    showInFront(m_lyrics);
}

void Form1::mnuSound_Click()
{
    // Each opening lists the ports as they are now.
    if (!m_sound) {
        m_sound = new frmSound();
        m_sound->Form_Load();
    }
    showInFront(m_sound);
}

void Form1::mnuViewParts_Click()
{
    // Its changes are device commands run as event procedures of this window, so the
    // time display and the media controls follow a new tempo at once.
    if (!m_parts)
        m_parts = new frmParts([this](const std::function<void()>& change) { dispatch(change); });
    showInFront(m_parts);
}
