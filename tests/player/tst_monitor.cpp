// The playback monitor on the manual clock: the time display, the end of a track and
// of its intro, and the order in which the player moves on.

#include "PlayerTestKit.h"

#include <QSet>
#include <QTest>

#include <memory>

using namespace sequora::test;

class tst_Monitor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        sequora::midi::engine::useManualClock();
    }

    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
    }

    void cleanup() { m_form.reset(); }

    void remainingTimeCountsDownToZero()
    {
        setPlaylist(*m_form, {song("a1000.mid", 1000), song("b1000.mid", 1000)});
        m_form->mnuViewTime2_Click();
        m_form->Timer1_Timer();
        QCOMPARE(m_form->Label3->text(), QStringLiteral("01:40"));
        m_form->Command3_Click();
        advance(*m_form, 35000);
        QCOMPARE(m_form->Label3->text(), QStringLiteral("01:05"));
        // The run that finds the track over shows its last time, then moves on.
        advance(*m_form, 65000);
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:00"));
        QCOMPARE(track(*m_form), 2);
        m_form->Timer1_Timer();
        QCOMPARE(m_form->Label3->text(), QStringLiteral("01:40"));
    }

    void timesBeyondSixteenBits()
    {
        setPlaylist(*m_form, {song("thousand.mid", 600000)});
        m_form->mnuViewTime2_Click();
        m_form->Timer1_Timer();
        QCOMPARE(m_form->Label3->text(), QStringLiteral("1000:00"));
        m_form->Command3_Click();
        advance(*m_form, 599000LL * kMsPerUnit);
        QCOMPARE(m_form->Label3->text(), QStringLiteral("01:40"));
        m_form->mnuViewTime1_Click();
        m_form->Timer1_Timer();
        QCOMPARE(m_form->Label3->text(), QStringLiteral("998:20"));
    }

    void seventyMinuteTrackPlaysToItsEndAndMovesOn()
    {
        setPlaylist(*m_form, {song("seventy.mid", 42000), song("next.mid", 300)});
        m_form->Command3_Click();
        advance(*m_form, 41999 * kMsPerUnit);
        QCOMPARE(track(*m_form), 1);
        QCOMPARE(m_form->Label3->text(), QStringLiteral("70:00"));
        advance(*m_form, kMsPerUnit);
        QCOMPARE(track(*m_form), 2);
        QVERIFY(isPlaying(*m_form));
        QCOMPARE(m_form->Label7->text(), QStringLiteral("[02]"));
    }

    void introThresholds()
    {
        // 1000 units: over at 150; 150 units: over at 150; 120 units: played whole.
        setPlaylist(*m_form, {song("i1000.mid", 1000), song("i150.mid", 150),
                              song("i120.mid", 120), song("after.mid", 1000)});
        m_form->mnuIntoPlay_Click();
        m_form->Command3_Click();
        for (int entry = 1; entry <= 3; ++entry) {
            const int64_t end = entry == 3 ? 120 : 150;
            advance(*m_form, (end - 1) * kMsPerUnit);
            QCOMPARE(track(*m_form), entry);
            advance(*m_form, kMsPerUnit);
            QCOMPARE(track(*m_form), entry + 1);
            QVERIFY(isPlaying(*m_form));
            QCOMPARE(position(*m_form), 0);
        }
    }

    void sequentialOrderStopsOnTheFirstEntry()
    {
        setPlaylist(*m_form, {song("s1.mid", 20), song("s2.mid", 30), song("s3.mid", 40)});
        m_form->Command3_Click();
        QCOMPARE(tracksPlayed(3), (QList<int>{1, 2, 3, 1}));
        QVERIFY(isLoaded(*m_form));
        QCOMPARE(m_form->Label7->text(), QStringLiteral("[01]"));
        QVERIFY(m_form->device().Mode() != "PLAYING");
        // Stopped: nothing moves any more.
        play(*m_form, 10000);
        QCOMPARE(track(*m_form), 1);
        QVERIFY(isLoaded(*m_form));
    }

    void continuousPlayStartsOver()
    {
        setPlaylist(*m_form, {song("s1.mid", 20), song("s2.mid", 30), song("s3.mid", 40)});
        m_form->mnuRenPlay_Click();
        m_form->Command3_Click();
        QCOMPARE(tracksPlayed(7), (QList<int>{1, 2, 3, 1, 2, 3, 1, 2}));
        QVERIFY(isPlaying(*m_form));
        QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
    }

    void randomWithTwoEntriesAlwaysTakesTheSecond()
    {
        setPlaylist(*m_form, {song("r1.mid", 20), song("r2.mid", 20)});
        m_form->mnuRandPlay_Click();
        m_form->mnuRenPlay_Click();
        m_form->Command3_Click();
        QCOMPARE(tracksPlayed(8), (QList<int>{1, 2, 1, 2, 1, 2, 1, 2, 1}));
    }

    void randomNeverPicksTheFirstEntryByItself()
    {
        QStringList list;
        for (int i = 1; i <= 4; ++i)
            list << song(QStringLiteral("q%1.mid").arg(i), 10);
        setPlaylist(*m_form, list);
        m_form->mnuRandPlay_Click();
        m_form->mnuRenPlay_Click();
        m_form->Command3_Click();
        const QList<int> order = tracksPlayed(300);
        QSet<int> seen;
        for (qsizetype i = 1; i < order.size(); ++i) {
            seen.insert(order[i]);
            if (order[i] == 1)
                QCOMPARE(order[i - 1], 4); // only the end of the list leads back to 1
        }
        QCOMPARE(seen, (QSet<int>{1, 2, 3, 4}));
    }

    void aDuplicatedPathPlaysInOrder()
    {
        const QString a = song("dupA.mid", 20);
        setPlaylist(*m_form, {a, song("dupB.mid", 20), a});
        m_form->Command3_Click();
        QStringList numbers{m_form->Label7->text()};
        for (int i = 0; i < 3; ++i) {
            playToNextTrack();
            numbers << m_form->Label7->text();
        }
        QCOMPARE(numbers, (QStringList{"[01]", "[02]", "[03]", "[01]"}));
        QVERIFY(isLoaded(*m_form));
    }

    void advancingWhileTheEditorIsOpen()
    {
        const QString second = song("e2.mid", 20);
        setPlaylist(*m_form, {song("e1.mid", 20), second});
        m_form->Command3_Click();
        // What opening the editor does to the window: no path, no commands.
        m_form->Text1->setText(QString());
        for (QPushButton* b : {m_form->Command3, m_form->Command4, m_form->Command6,
                               m_form->Command8, m_form->Command9, m_form->Command11,
                               m_form->Command12})
            b->setEnabled(false);
        play(*m_form, 1000);
        QCOMPARE(track(*m_form), 1);
        QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
        play(*m_form, 1000);
        QCOMPARE(track(*m_form), 2);
        QCOMPARE(m_form->Text1->text(), second);
        QVERIFY(isPlaying(*m_form));
        QVERIFY(m_form->Command6->isEnabled() && m_form->Command9->isEnabled());
        QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
    }

    void anEmptyPlaylistOnlyKeepsTheTime()
    {
        setPlaylist(*m_form, {song("only.mid", 20)});
        m_form->mnuRenPlay_Click();
        m_form->Command3_Click();
        m_form->Combo1->clear();
        play(*m_form, 5000);
        QCOMPARE(m_form->Combo1->currentIndex(), -1);
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:02"));
        // Nothing to start over with: the finished track is not played again and again.
        QVERIFY(m_form->device().Mode() != "PLAYING");
    }

private:
    QString song(const QString& name, int64_t units) { return writeSong(m_dir, name, units); }

    // Plays on in 100 ms ticks until the current entry changes or reloads.
    void playToNextTrack()
    {
        const int before = track(*m_form);
        const bool wasPlaying = isPlaying(*m_form);
        for (int i = 0; i < 20000; ++i) {
            advance(*m_form, kMsPerUnit);
            if (track(*m_form) != before || isPlaying(*m_form) != wasPlaying
                || position(*m_form) == 0)
                return;
        }
        QFAIL("the player did not move on");
    }

    // The current track and those after the next `changes` moves.
    QList<int> tracksPlayed(int changes)
    {
        QList<int> order{track(*m_form)};
        for (int i = 0; i < changes && !QTest::currentTestFailed(); ++i) {
            playToNextTrack();
            order << track(*m_form);
        }
        return order;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_Monitor)
#include "tst_monitor.moc"
