// The monitor at rest: its timer stops while nothing it reads can move by itself, and
// every event that changes what it reads, reached the way a user or the desktop reaches
// it (clicks, menu items, toolbar switches, the labels, the hand-over, bus commands),
// shows and decides at once what a tick would have. On the manual clock.

#include "PlayerTestKit.h"

#include "player/MprisBridge.h"

#include <QDBusObjectPath>
#include <QTest>
#include <QToolBar>

#include <functional>
#include <memory>

using namespace sequora::test;

namespace {

constexpr int64_t kSongUnits = 1000;

// One tick of the window's own timer, delivered as the timer delivers it.
void tick(Form1& form)
{
    QVERIFY(QMetaObject::invokeMethod(form.Timer1, "timeout"));
}

} // namespace

class tst_MonitorRest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        sequora::midi::engine::useManualClock();
        m_songs = { writeSong(m_dir, "one.mid", kSongUnits), writeSong(m_dir, "two.mid", kSongUnits) };
    }

    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
        m_bridge = std::make_unique<MprisBridge>(*m_form);
        setPlaylist(*m_form, m_songs);
    }

    void cleanup()
    {
        m_bridge.reset();
        m_form.reset();
    }

    void theTimerRunsOnlyWhileSomethingMoves_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("ticking");
        QTest::newRow("loaded, stopped") << "stopped" << false;
        QTest::newRow("playing") << "playing" << true;
        QTest::newRow("paused") << "paused" << false;
        // The editor withdraws the buttons; the device plays on and the monitor with it.
        QTest::newRow("playing, editor open") << "editing" << true;
        // A track whose next entry is empty: every run decides again and shows the box.
        QTest::newRow("over, next entry empty") << "stuck" << true;
    }
    void theTimerRunsOnlyWhileSomethingMoves()
    {
        QFETCH(QString, state);
        QFETCH(bool, ticking);
        CaughtBoxes boxes;
        if (state == "stuck") {
            setPlaylist(*m_form, { m_songs.first(), QString() });
            m_form->device().Position("END");
        }
        if (state != "stopped")
            m_form->Command3->click();
        if (state == "paused")
            m_form->Command4->click();
        if (state == "editing")
            m_form->mnuFileList->trigger();
        const qsizetype shown = boxes.texts.size();
        tick(*m_form);
        tick(*m_form);
        QCOMPARE(m_form->Timer1->isActive(), ticking);
        QCOMPARE(m_form->Timer1->interval(), 10);
        QCOMPARE(boxes.texts.size() - shown, state == "stuck" ? 2 : 0);
    }

    // Paused at 35 s of 100, the elapsed time shown: each way of switching the time
    // display shows the remaining time at once, and the monitor rests again.
    void aTimeModeSwitchWhilePausedShowsAtOnce_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("menu item") << "menu";
        QTest::newRow("toolbar switch") << "toolbar";
        QTest::newRow("time label") << "Label3";
        QTest::newRow("track label") << "Label7";
    }
    void aTimeModeSwitchWhilePausedShowsAtOnce()
    {
        QFETCH(QString, way);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        m_form->Command3->click();
        advance(*m_form, 35000);
        m_form->Command4->click();
        tick(*m_form);
        QVERIFY(!m_form->Timer1->isActive());
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:35"));

        if (way == "menu")
            m_form->mnuViewTime2->trigger();
        else if (way == "toolbar")
            QTest::mouseClick(
                m_form->tbToolBar->widgetForAction(m_form->toolButton("TimeEnd")), Qt::LeftButton);
        else
            QTest::mouseClick(way == "Label3" ? m_form->Label3 : m_form->Label7, Qt::LeftButton);
        QCOMPARE(m_form->Label3->text(), QStringLiteral("01:05"));
        QVERIFY(!m_form->Timer1->isActive());
    }

    void aSeekWhileStoppedShowsAtOnce_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("shown");
        QTest::newRow("step forward") << "Command12" << "00:13";
        QTest::newRow("step back") << "Command11" << "00:11";
        QTest::newRow("previous restarts") << "Command9" << "00:00";
        QTest::newRow("bus seek") << "Seek" << "00:15";
        QTest::newRow("bus set position") << "SetPosition" << "00:40";
    }
    void aSeekWhileStoppedShowsAtOnce()
    {
        QFETCH(QString, way);
        QFETCH(QString, shown);
        // Stopped (not reloaded) at 12 s: the step buttons' own stand.
        m_form->device().Position("120");
        m_form->Command12->click();
        m_form->Command11->click();
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:12"));
        tick(*m_form);
        QVERIFY(!m_form->Timer1->isActive());

        if (way.startsWith("Command"))
            m_form->findChild<QPushButton*>(way)->click();
        else if (way == "Seek")
            m_bridge->seek(3'000'000);
        else
            m_bridge->setPosition(QDBusObjectPath(QStringLiteral("/org/sequora/track/1")), 40'000'000);
        QCOMPARE(m_form->Label3->text(), shown);
        QVERIFY(!m_form->Timer1->isActive());
    }

    // The ticking monitor would find the paused track past its intro at its next tick
    // and move on to the next entry, playing; the resting one does so at once.
    void anIntroSwitchWhilePausedAtTwentySecondsMovesOn_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("menu item") << "menu";
        QTest::newRow("toolbar switch") << "toolbar";
    }
    void anIntroSwitchWhilePausedAtTwentySecondsMovesOn()
    {
        QFETCH(QString, way);
        m_form->Command3->click();
        advance(*m_form, 20000);
        m_form->Command4->click();
        tick(*m_form);
        QVERIFY(!m_form->Timer1->isActive());
        QCOMPARE(track(*m_form), 1);

        if (way == "menu")
            m_form->mnuIntoPlay->trigger();
        else
            m_form->toolButton(QStringLiteral("IntoPlay"))->trigger();
        QCOMPARE(track(*m_form), 2);
        QVERIFY(isPlaying(*m_form));
        QCOMPARE(position(*m_form), 0);
        QVERIFY(m_form->Timer1->isActive());
        // And its intro ends it like any other.
        play(*m_form, 15000);
        QCOMPARE(track(*m_form), 1);
    }

    // What starts the device again starts the timer again, whichever way it comes.
    void playFromRestTicksAgain_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("play button") << "button";
        QTest::newRow("pause button resumes") << "pause";
        QTest::newRow("bus play") << "bus";
        QTest::newRow("bus play-pause") << "bus toggle";
        QTest::newRow("next track") << "next";
    }
    void playFromRestTicksAgain()
    {
        QFETCH(QString, way);
        m_form->Command3->click();
        advance(*m_form, 5000);
        m_form->Command4->click();
        tick(*m_form);
        QVERIFY(!m_form->Timer1->isActive());

        if (way == "button")
            m_form->Command3->click();
        else if (way == "pause")
            m_form->Command4->click();
        else if (way == "bus")
            m_bridge->play();
        else if (way == "bus toggle")
            m_bridge->playPause();
        else
            m_form->Command6->click();
        QVERIFY(m_form->Timer1->isActive());
        QVERIFY(isPlaying(*m_form));
        tick(*m_form);
        QVERIFY(m_form->Timer1->isActive());
        // The track then ends and the next one starts by the ticks alone.
        const int before = track(*m_form);
        play(*m_form, (kSongUnits + 1) * kMsPerUnit);
        QCOMPARE(track(*m_form), before % 2 + 1);
    }

    void theHandOverAndASelectionWakeTheMonitor()
    {
        m_form->device().Position("300");
        tick(*m_form);
        QVERIFY(!m_form->Timer1->isActive());
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:30"));

        // A choice in the selector loads the entry and shows its start.
        m_form->Combo1->setCurrentIndex(1);
        emit m_form->Combo1->activated(1);
        QCOMPARE(track(*m_form), 2);
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:00"));
        tick(*m_form);
        QVERIFY(!m_form->Timer1->isActive());

        // The editor's OK: a new Playlist, whose first entry is loaded and shown.
        m_form->device().Position("300");
        m_form->Combo1->clear();
        m_form->Combo1->addItems({ m_songs.last() });
        m_form->setLabel1Caption(QStringLiteral("1"));
        QCOMPARE(m_form->Label7->text(), QStringLiteral("[01]"));
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:00"));
        tick(*m_form);
        QVERIFY(!m_form->Timer1->isActive());
    }

    void theDeviceEndingByItselfIsTheTicksOwn()
    {
        // The last entry plays to its end between two ticks: the tick that finds it over
        // stops the player on the first entry, and the one after that lets it rest.
        m_form->selectEntry(1);
        m_form->Command3->click();
        play(*m_form, (kSongUnits - 1) * kMsPerUnit);
        sequora::midi::engine::advanceManualClock(kMsPerUnit);
        QVERIFY(m_form->device().Mode() != "PLAYING");
        QCOMPARE(track(*m_form), 2);
        tick(*m_form);
        QVERIFY(isLoaded(*m_form));
        QCOMPARE(track(*m_form), 1);
        QVERIFY(m_form->Timer1->isActive());
        tick(*m_form);
        QVERIFY(!m_form->Timer1->isActive());
    }

private:
    QTemporaryDir m_dir;
    QStringList m_songs;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<MprisBridge> m_bridge;
};

QTEST_MAIN(tst_MonitorRest)
#include "tst_monitorrest.moc"
