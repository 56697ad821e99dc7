// The player's side of the playlist editor: opening it, and taking its Playlist over.

#include "player/Form1.h"

#include "playlist/Form2.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void Form1::mnuFileList_Click()
{
    Text1->setText(QString());
    // Playback under way goes on; only the commands are withdrawn while editing.
    for (QPushButton* button :
        { Command3, Command4, Command6, Command8, Command9, Command11, Command12 })
        button->setEnabled(false);

    if (m_editor == nullptr) {
        m_editor = new Form2(*this);
        m_editor->Form_Load();
        m_editor->show();
    } else if (m_editor->isHidden()) {
        m_editor->show(); // as it was left at OK: no fresh copy
    } else {
        m_editor->raise();
        m_editor->activateWindow();
    }
}

void Form1::Command13_Click()
{
    mnuFileList_Click();
}

void Form1::setLabel1Caption(const QString& caption)
{
    // Every write is a signal, also one that leaves the caption as it was: an OK after
    // an OK with an empty Playlist writes "1" over "1" and must still be taken up. The
    // editor's hand-over is an event like a click, so the monitor catches up after it.
    Label1->setText(caption);
    dispatch(&Form1::Label1_Change, this);
}

void Form1::Label1_Change()
{
    if (listText(0).isEmpty())
        return;
    if (Label1->text().trimmed().toInt() != 1)
        return;
    selectEntry(0);
    setLabel1Caption(QStringLiteral("0"));
}
