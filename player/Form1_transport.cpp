// Track selection and the play, pause and stop commands.

#include "info/frmLyrics.h"
#include "player/ClickLabel.h"
#include "player/Form1.h"
#include "player/TimeText.h"
#include "platform/FileNames.h"
#include "platform/desktop/MessageBox.h"
#include "sequencer/clsMIDI.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kMonitorIntervalMs = 10;
const QString kUnexpectedError = QStringLiteral("予期せぬエラーが起こりました。");
const char* const kPlaying = "PLAYING";

} // namespace

QString Form1::listText(int index) const
{
    if (index < 0 || index >= Combo1->count())
        return QString();
    return Combo1->itemText(index);
}

QByteArray Form1::entryFile(int index) const
{
    if (index < 0 || index >= Combo1->count())
        return QByteArray();
    return sequora::platform::entryFile(Combo1->itemText(index),
        Combo1->itemData(index, sequora::platform::kNativeNameRole).toByteArray());
}

void Form1::selectEntry(int index)
{
    // Selecting is by position, never by text: a playlist may hold a path twice.
    if (index < 0 || index >= Combo1->count())
        return;
    Combo1->setCurrentIndex(index);
    Combo1_Click();
}

void Form1::Combo1_Click()
{
    const bool wasPlaying = device().Mode() == kPlaying;
    Text1->setText(listText(Combo1->currentIndex()));
    if (Text1->text().isEmpty()) {
        sequora::platform::MsgBox(kUnexpectedError, this);
        return;
    }
    device().FileName(entryFile(Combo1->currentIndex()).toStdString());
    // A file just opened stands at its start: the lyrics window shows it without
    // waiting for the monitor's next reading.
    m_monitorUnits = 0;
    if (m_lyrics)
        m_lyrics->follow(device().FileName(), 0);
    Label7->setText(sequora::player::trackNumberText(Combo1->currentIndex() + 1));
    Timer1->start(kMonitorIntervalMs);
    setLoadedPattern();
    if (wasPlaying)
        Command3_Click();
}

void Form1::setLoadedPattern()
{
    Command3->setEnabled(true);
    Command4->setEnabled(false);
    Command6->setEnabled(true);
    Command8->setEnabled(false);
    Command9->setEnabled(true);
    Command11->setEnabled(true);
    Command12->setEnabled(true);
}

void Form1::Command3_Click()
{
    device().Play();
    Command3->setEnabled(false);
    Command4->setEnabled(true);
    Command8->setEnabled(true);
}

void Form1::Command4_Click()
{
    if (device().Mode() == kPlaying) {
        device().Pause();
        Command3->setEnabled(true);
    } else {
        // Pause pressed again resumes.
        Command3_Click();
    }
}

void Form1::Command8_Click()
{
    if (Combo1->currentText().isEmpty())
        return;
    device().StopM();
    Text1->setText(listText(0));
    selectEntry(0);
    device().FileName(entryFile(0).toStdString());
    setLoadedPattern();
}
