// Previous track, step back, step forward and next track: their limits, the playing
// state they keep, and the monitor run that ends each of them.

#include "PlayerTestKit.h"

#include <QFile>
#include <QTest>

#include <memory>

using namespace sequora::test;

class tst_Seek : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        sequora::midi::engine::useManualClock();
        for (int i = 1; i <= 3; ++i)
            m_songs << writeSong(m_dir, QStringLiteral("t%1.mid").arg(i), 1000);
        m_log = m_dir.filePath("mci.log");
    }

    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
        setPlaylist(*m_form, m_songs);
        QFile::remove(m_log);
        qputenv("SEQUORA_MCI_LOG", QFile::encodeName(m_log));
    }

    void cleanup()
    {
        qunsetenv("SEQUORA_MCI_LOG");
        m_form.reset();
    }

    void stepBack_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("sent");
        QTest::newRow("15 -> 5") << 15 << 5 << "seek midifile to 5";
        QTest::newRow("11 -> 1") << 11 << 1 << "seek midifile to 1";
        QTest::newRow("10 -> start") << 10 << 0 << "seek midifile to START";
        QTest::newRow("3 -> start") << 3 << 0 << "seek midifile to START";
    }
    void stepBack()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, sent);
        m_form->device().Position(std::to_string(from));
        m_form->Command11_Click();
        QCOMPARE(position(*m_form), to);
        QVERIFY(logged(sent));
        QVERIFY(isLoaded(*m_form));
    }

    void stepForward_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("sent");
        QTest::newRow("970 -> 980") << 970 << 980 << "seek midifile to 980";
        QTest::newRow("979 -> 989") << 979 << 989 << "seek midifile to 989";
    }
    void stepForward()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, sent);
        m_form->device().Position(std::to_string(from));
        m_form->Command12_Click();
        QCOMPARE(position(*m_form), to);
        QVERIFY(logged(sent));
        QCOMPARE(track(*m_form), 1);
    }

    void stepForwardIntoTheGuardMovesOn()
    {
        m_form->device().Position("980");
        m_form->Command12_Click();
        QVERIFY(logged("seek midifile to END"));
        QCOMPARE(track(*m_form), 2);
        QVERIFY(isPlaying(*m_form));
        QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
    }

    void stepsDuringPlaybackPlayOn()
    {
        m_form->Command3_Click();
        advance(*m_form, 50000); // 500 units
        m_form->Command12_Click();
        QCOMPARE(position(*m_form), 510);
        m_form->Command11_Click();
        m_form->Command11_Click();
        QCOMPARE(position(*m_form), 490);
        QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
        QVERIFY(isPlaying(*m_form));
        advance(*m_form, 1000);
        QCOMPARE(position(*m_form), 500);
    }

    void stepsWhilePausedStayPaused()
    {
        m_form->Command3_Click();
        advance(*m_form, 50000);
        m_form->Command4_Click();
        m_form->Command12_Click();
        QCOMPARE(position(*m_form), 510);
        m_form->Command11_Click();
        QCOMPARE(position(*m_form), 500);
        QVERIFY(m_form->device().Mode() != "PLAYING");
        // Paused in appearance: play and pause both offered.
        QVERIFY(m_form->Command3->isEnabled() && m_form->Command4->isEnabled());
        advance(*m_form, 1000);
        QCOMPARE(position(*m_form), 500);
    }

    void introStepForwardFrom145MovesOnAtOnce()
    {
        m_form->mnuIntoPlay_Click();
        m_form->device().Position("145");
        m_form->Command3_Click();
        m_form->Command12_Click();
        QCOMPARE(track(*m_form), 2);
        QVERIFY(isPlaying(*m_form));
        QCOMPARE(position(*m_form), 0);
    }

    void previousTrack_data()
    {
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("expectedTrack");
        QTest::newRow("at 10: the entry before") << 10 << 2;
        QTest::newRow("at 11: this entry again") << 11 << 3;
    }
    void previousTrack()
    {
        QFETCH(int, at);
        QFETCH(int, expectedTrack);
        m_form->selectEntry(2);
        m_form->device().Position(std::to_string(at));
        m_form->Command3_Click();
        m_form->Command9_Click();
        QCOMPARE(track(*m_form), expectedTrack);
        QCOMPARE(m_form->Label7->text(), QStringLiteral("[0%1]").arg(expectedTrack));
        QCOMPARE(position(*m_form), 0);
        QVERIFY(isPlaying(*m_form));
        QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:00"));
    }

    void previousTrackOnTheFirstEntryOnlyRefreshesTheTime()
    {
        m_form->device().Position("8");
        m_form->Command9_Click();
        QCOMPARE(track(*m_form), 1);
        QCOMPARE(position(*m_form), 8);
        QVERIFY(isLoaded(*m_form));
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:01"));
    }

    void nextTrack_data()
    {
        QTest::addColumn<bool>("continuous");
        QTest::newRow("on the last entry") << false;
        QTest::newRow("on the last entry, continuous") << true;
    }
    void nextTrack()
    {
        QFETCH(bool, continuous);
        if (continuous)
            m_form->mnuRenPlay_Click();
        m_form->Command6_Click(); // from a stopped entry 1
        QCOMPARE(track(*m_form), 2);
        QVERIFY(isPlaying(*m_form));
        m_form->Command6_Click();
        m_form->Command6_Click();
        QCOMPARE(track(*m_form), 1);
        QCOMPARE(isPlaying(*m_form), continuous);
        QCOMPARE(m_form->device().Mode() == "PLAYING", continuous);
    }

    void nextTrackLeavesABrokenEntry()
    {
        const QString broken = writeBroken(m_dir, "broken.mid");
        setPlaylist(*m_form, {broken, m_songs[0]});
        QVERIFY(isLoaded(*m_form));
        m_form->Command6_Click();
        QCOMPARE(track(*m_form), 2);
        QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
    }

private:
    bool logged(const QString& command) const
    {
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        return file.readAll().contains(QByteArray("\"") + command.toLatin1() + "\"\t");
    }

    QTemporaryDir m_dir;
    QStringList m_songs;
    QString m_log;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_Seek)
#include "tst_seek.moc"
