#include "player/Form1.h"

#include "info/frmAbout.h"
#include "info/frmRead.h"

namespace {

// Shows a secondary window, whether it has just been made or was behind others.
void bringToFront(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

// Both windows are modeless and have no owner, so they neither stay above the player
// nor close with a minimised one; each exists at most once and deletes itself on close.

void Form1::mnuHelpAbout_Click()
{
    if (!m_about)
        m_about = new frmAbout();
    bringToFront(m_about);
}

void Form1::mnuHelpRead_Click()
{
    if (!m_readme)
        m_readme = new frmRead();
    bringToFront(m_readme);
}
