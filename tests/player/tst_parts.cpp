// The parts window in the player's process, on the engine's manual clock: opened from the
// view menu, it names what each part plays, samples only while it is shown and the song
// plays, and changes mute, solo, key and tempo only by device commands, which the time
// display follows at once; a refused change shows as it was, and 32 parts get 32 rows.

#include "PlayerTestKit.h"

#include "info/PartMeters.h"
#include "info/frmParts.h"
#include "player/ListenerCommands.h"

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace sequora::test;
using sequora::midi::PartsView;
using sequora::midi::PartView;

namespace {

// A GS song of 20 s: a piano holding C4 on part 1, a violin on part 2 every second, the
// drums on part 10 every quarter second; part 3 only chooses a program late.
QString writeGsSong(const QTemporaryDir& dir)
{
    SmfWriter smf(1, 500);
    smf.addTrack().sysex(0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 });
    smf.addTrack().programChange(0, 0, 0).noteOn(0, 0, 60, 100).noteOff(20000, 0, 60);
    auto& violin = smf.addTrack().programChange(0, 1, 40);
    for (int i = 0; i < 20; ++i)
        violin.noteOn(i == 0 ? 0 : 500, 1, 67, 90).noteOff(500, 1, 67);
    auto& drums = smf.addTrack();
    for (int i = 0; i < 80; ++i)
        drums.noteOn(i == 0 ? 0 : 240, 9, 36, 120).noteOff(10, 9, 36);
    smf.addTrack().programChange(19000, 2, 73);
    const QString path = dir.filePath(QStringLiteral("gs.mid"));
    smf.writeFile(QFile::encodeName(path).toStdString());
    return path;
}

bool logged(const QString& log, const QByteArray& command, int code)
{
    for (const QByteArray& line : logLines(log)) {
        if (line.startsWith('"' + command + "\"\t" + QByteArray::number(code) + '\t'))
            return true;
    }
    return false;
}

} // namespace

class tst_Parts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = logInto(m_dir);
        m_song = writeGsSong(m_dir);
    }

    void init()
    {
        QFile::remove(m_log);
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
    }

    void cleanup()
    {
        m_form.reset();
        // The engine keeps the listener's settings from song to song, so from test to test.
        sequora::midi::engine::sequencer().setListening({});
    }

    void namesWhatEachPartPlays()
    {
        setPlaylist(*m_form, { m_song });
        m_form->mnuViewParts_Click();
        frmParts* w = m_form->partsWindow();
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("ﾊﾟｰﾄ"));
        QCOMPARE(w->rowsShown(), 16);
        QCOMPARE(w->rows[0].name->text(), frmParts::kUnused);

        m_form->dispatch(&Form1::Command3_Click, m_form.get());
        advance(*m_form, 1040);
        w->tmrSample_Timer();
        // No soundfont on this output: the General MIDI names, the kit by its GS name.
        QCOMPARE(w->rows[0].name->text(), QStringLiteral("Acoustic Grand Piano"));
        QCOMPARE(w->rows[1].name->text(), QStringLiteral("Violin"));
        QCOMPARE(w->rows[9].name->text(), QStringLiteral("Standard Kit"));
        QCOMPARE(w->rows[2].name->text(), frmParts::kUnused);
        QVERIFY(w->meters->level(1) > 0);
        QVERIFY(w->meters->keys(0)[0] & (uint64_t(1) << 60));
        QVERIFY(w->meters->keys(1)[1] & (uint64_t(1) << (67 - 64)));
        QCOMPARE(w->meters->keys(2), KeyStrip::Keys {});

        play(*m_form, 18500);
        w->tmrSample_Timer();
        QCOMPARE(w->rows[2].name->text(), QStringLiteral("Flute"));
    }

    void samplesOnlyWhileShownAndPlaying_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("play, pause, play, stop")
            << QStringList { "open:false", "play:true", "pause:false", "play:true", "stop:false" };
        QTest::newRow("hidden and shown while playing") << QStringList { "play:false", "open:true",
            "hide:false", "show:true", "pause:false", "hide:false", "show:false" };
        QTest::newRow("the song ends") << QStringList { "open:false", "play:true", "end:false" };
        QTest::newRow("minimised while playing")
            << QStringList { "open:false", "play:true", "minimise:false", "restore:true" };
    }

    void samplesOnlyWhileShownAndPlaying()
    {
        QFETCH(QStringList, steps);
        setPlaylist(*m_form, { m_song });
        Form1& f = *m_form;
        for (const QString& step : steps) {
            const QString action = step.section(':', 0, 0);
            if (action == "open")
                f.dispatch(&Form1::mnuViewParts_Click, &f);
            else if (action == "play")
                f.dispatch(&Form1::Command3_Click, &f);
            else if (action == "pause")
                f.dispatch(&Form1::Command4_Click, &f);
            else if (action == "stop")
                f.dispatch(&Form1::Command8_Click, &f);
            else if (action == "hide")
                f.partsWindow()->hide();
            else if (action == "show")
                f.partsWindow()->show();
            else if (action == "minimise")
                f.partsWindow()->showMinimized();
            else if (action == "restore")
                f.partsWindow()->showNormal();
            else if (action == "end")
                play(f, 21000);
            advance(f, 100);
            const bool sampling = f.partsWindow() && f.partsWindow()->sampling();
            QVERIFY2(sampling == (step.section(':', 1) == "true"), qPrintable(step));
        }
        // At rest nothing sounds, whatever was last published.
        for (int row = 0; row < PartsView::kMaxParts && steps.last().endsWith(":false"); ++row) {
            QCOMPARE(f.partsWindow()->meters->level(row), 0);
            QCOMPARE(f.partsWindow()->meters->keys(row), KeyStrip::Keys {});
        }
    }

    void changesAreDeviceCommands()
    {
        setPlaylist(*m_form, { m_song });
        Form1& f = *m_form;
        f.mnuViewParts_Click();
        frmParts& w = *f.partsWindow();
        f.dispatch(&Form1::Command3_Click, &f);
        play(f, 2000);
        QCOMPARE(f.Label3->text(), QStringLiteral("00:02"));

        w.rows[1].mute->click();
        w.rows[0].solo->click();
        w.rows[9].solo->click();
        QVERIFY(logged(m_log, "set midifile part 2 mute on", 0));
        QVERIFY(logged(m_log, "set midifile part 1 solo on", 0));
        QVERIFY(logged(m_log, "set midifile part 10 solo on", 0));
        QVERIFY(w.rows[1].mute->isChecked() && w.rows[9].solo->isChecked());
        const sequora::midi::ListenerSettings now = sequora::player::listenerSettings();
        QVERIFY(now.muted[1] && now.soloed[0] && now.soloed[9] && !now.soloed[1]);

        // Half the tempo: the time display shows the same point of the song, in the
        // listener's time, at once.
        w.spnTempo->setValue(50);
        QVERIFY(logged(m_log, "set midifile tempo 50", 0));
        QCOMPARE(f.Label3->text(), QStringLiteral("00:04"));
        w.spnTranspose->setValue(-3);
        QVERIFY(logged(m_log, "set midifile transpose -3", 0));
        QCOMPARE(w.spnTranspose->text(), QStringLiteral("-3 半音"));
        // A raise reads as a shift, and typed so it is taken.
        w.spnTranspose->selectAll();
        QTest::keyClicks(w.spnTranspose, QStringLiteral("+5"));
        QTest::keyClick(w.spnTranspose, Qt::Key_Return);
        QVERIFY(logged(m_log, "set midifile transpose 5", 0));
        QCOMPARE(w.spnTranspose->text(), QStringLiteral("+5 半音"));

        w.cmdReset->click();
        for (const char* command : { "set midifile tempo 100", "set midifile transpose 0",
                 "set midifile part all mute off", "set midifile part all solo off" })
            QVERIFY2(logged(m_log, command, 0), command);
        QCOMPARE(w.spnTempo->value(), 100);
        QCOMPARE(w.spnTranspose->value(), 0);
        QVERIFY(!w.rows[1].mute->isChecked() && !w.rows[0].solo->isChecked());
        QCOMPARE(f.Label3->text(), QStringLiteral("00:02"));
    }

    void aRefusedChangeShowsAsItWas()
    {
        // Nothing loaded: no device to take the command.
        m_form->mnuViewParts_Click();
        frmParts& w = *m_form->partsWindow();
        QVERIFY(!w.spnTempo->isEnabled() && !w.rows[0].mute->isEnabled());
        w.spnTempo->setValue(150);
        QVERIFY(logged(m_log, "set midifile tempo 150", 263));
        QCOMPARE(w.spnTempo->value(), 100);
        QCOMPARE(sequora::player::listenerSettings().tempoPercent, 100);
    }

    void rowsForEveryPart_data()
    {
        QTest::addColumn<int>("parts");
        QTest::newRow("one port") << 16;
        QTest::newRow("two ports") << 32;
    }

    void rowsForEveryPart()
    {
        QFETCH(int, parts);
        m_form->mnuViewParts_Click();
        frmParts& w = *m_form->partsWindow();
        const int height16 = w.height();
        PartsView view;
        view.partCount = static_cast<uint8_t>(parts);
        view.parts[31].flags = PartView::Used | PartView::Muted;
        view.parts[31].level = 100;
        w.display(view, true, 0);
        QCOMPARE(w.rowsShown(), parts);
        QCOMPARE(w.rows[31].name->isVisibleTo(&w), parts == 32);
        QCOMPARE(w.height() > height16, parts == 32);
        if (parts == 32) {
            QVERIFY(w.rows[31].mute->isChecked());
            QCOMPARE(w.meters->level(31), 100);
            QCOMPARE(w.rows[31].name->text(), QStringLiteral("Acoustic Grand Piano"));
        }
        view.partCount = 16;
        w.display(view, false, 0);
        QCOMPARE(w.height(), height16);
    }

private:
    QTemporaryDir m_dir;
    QString m_log;
    QString m_song;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_Parts)
#include "tst_parts.moc"
