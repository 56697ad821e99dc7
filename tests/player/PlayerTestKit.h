#pragma once
// Helpers for player window tests: songs of exact lengths, a Playlist in Combo1, the
// engine's manual clock, and message boxes and program starts caught instead of shown.

#include "common/SmfWriter.h"
#include "platform/Shell.h"
#include "platform/desktop/MessageBox.h"
#include "platform/midi/transport/Sequencer.h"
#include "player/ClickLabel.h"
#include "player/Form1.h"
#include "sequencer/clsMIDI.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <string>

namespace sequora::test {

/// Device units per second and milliseconds per unit (the device counts tenths).
inline constexpr int64_t kMsPerUnit = 100;

/// A song of exactly `units` tenths of a second: one note held from 0 to the end. At
/// 500 ticks a quarter and the default tempo a tick is one millisecond.
inline QString writeSong(const QTemporaryDir& dir, const QString& name, int64_t units)
{
    SmfWriter smf(0, 500);
    smf.addTrack()
        .noteOn(0, 0, 60, 90)
        .noteOff(static_cast<uint32_t>(units * kMsPerUnit), 0, 60)
        .endOfTrack(0);
    const QString path = dir.filePath(name);
    smf.writeFile(QFile::encodeName(path).toStdString());
    return path;
}

/// A file the device cannot open: it is no MIDI file.
inline QString writeBroken(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("this is no MIDI file\n");
    return path;
}

/// Replaces the Playlist and selects entry 0, as the editor's hand-over does.
inline void setPlaylist(Form1& form, const QStringList& paths)
{
    form.Combo1->clear();
    form.Combo1->addItems(paths);
    form.selectEntry(0);
}

/// Moves playback time on and runs the monitor once, as a tick after that time would.
/// Tests never spin the event loop, so the window's own timer does not fire.
inline void advance(Form1& form, int64_t ms)
{
    midi::engine::advanceManualClock(ms);
    form.Timer1_Timer();
}

/// Moves playback on in ticks of `stepMs`, running the monitor after each.
inline void play(Form1& form, int64_t ms, int64_t stepMs = 100)
{
    for (int64_t done = 0; done < ms; done += stepMs)
        advance(form, stepMs);
}

inline int64_t position(Form1& form)
{
    return std::stoll("0" + form.device().Position());
}

inline int track(const Form1& form)
{
    return form.Combo1->currentIndex() + 1;
}

inline bool isPlaying(const Form1& form)
{
    return !form.Command3->isEnabled() && form.Command4->isEnabled()
        && form.Command8->isEnabled();
}

/// Sends the device's command log to mci.log in dir and runs the engine on its manual
/// clock; returns the log's path.
inline QString logInto(const QTemporaryDir& dir)
{
    const QString log = dir.filePath(QStringLiteral("mci.log"));
    qputenv("SEQUORA_MCI_LOG", QFile::encodeName(log));
    midi::engine::useManualClock();
    return log;
}

/// The device log's lines, without empty ones; none when there is no log.
inline QList<QByteArray> logLines(const QString& log)
{
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> out = file.readAll().split('\n');
    out.removeAll(QByteArray());
    return out;
}

/// The command of each log line: the text between its first pair of quotes.
inline QList<QByteArray> loggedCommands(const QString& log)
{
    QList<QByteArray> out;
    for (const QByteArray& line : logLines(log))
        out << line.mid(1, line.indexOf("\"\t") - 1);
    return out;
}

inline bool isLoaded(const Form1& form)
{
    return form.Command3->isEnabled() && !form.Command4->isEnabled()
        && form.Command6->isEnabled() && !form.Command8->isEnabled()
        && form.Command9->isEnabled() && form.Command11->isEnabled()
        && form.Command12->isEnabled();
}

/// Catches message boxes for as long as it lives; `during` runs inside each "box", as
/// an event handled while a real box is open would.
class CaughtBoxes {
public:
    CaughtBoxes()
    {
        platform::setMessageBoxHook([this](const QString& text, const QString& caption) {
            texts << text;
            captions << caption;
            if (during)
                during();
        });
    }
    ~CaughtBoxes() { platform::setMessageBoxHook({}); }
    CaughtBoxes(const CaughtBoxes&) = delete;
    CaughtBoxes& operator=(const CaughtBoxes&) = delete;

    QStringList texts;
    QStringList captions;
    std::function<void()> during;
};

} // namespace sequora::test
