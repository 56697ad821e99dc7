// A song with a marked loop in the player, on the manual clock: the device, the time
// display and the media controls give the length of what is heard (the loop unrolled),
// the track ends after its fade and continuous play moves on, as with any other song.

#include "PlayerTestKit.h"

#include "common/LoopedSong.h"
#include "player/MprisState.h"

#include <QTest>

#include <memory>

using namespace sequora::test;

namespace {

// The game piece: a 3.84 s intro, a 15.84 s loop played twice, 8 s of fade.
constexpr int64_t kLoopedUnits = (3840 + 2 * 15840 + 8000) / kMsPerUnit;

} // namespace

class tst_MonitorLoop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        sequora::midi::engine::useManualClock();
        sequora::midi::engine::sequencer().setLoopPlayback({});
        m_looped = m_dir.filePath(QStringLiteral("game.mid"));
        SmfWriter::writeBytes(
            QFile::encodeName(m_looped).toStdString(), loopedSong(LoopMark::Markers));
        m_short = writeSong(m_dir, QStringLiteral("short.mid"), 50);
    }

    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
    }

    void cleanup() { m_form.reset(); }

    void theLengthIsThatOfTheLoopUnrolled()
    {
        setPlaylist(*m_form, { m_looped, m_short });
        QCOMPARE(m_form->device().Length(), kLoopedUnits);
        QCOMPARE(MprisState(*m_form).lengthUs(), kLoopedUnits * 100'000);
        m_form->mnuViewTime2_Click();
        m_form->Timer1_Timer();
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:44")); // 43.5 s, to the even second
        // Into the second pass and on: the position goes on counting.
        m_form->Command3_Click();
        play(*m_form, 25'000);
        QCOMPARE(position(*m_form), 250);
        QCOMPARE(
            m_form->Label3->text(), QStringLiteral("00:18")); // 18.5 s left, to the even second
        QCOMPARE(track(*m_form), 1);
    }

    void continuousPlayMovesOnAfterTheFade()
    {
        setPlaylist(*m_form, { m_looped, m_short });
        m_form->mnuRenPlay_Click();
        m_form->Command3_Click();
        play(*m_form, kLoopedUnits * kMsPerUnit - 200);
        QCOMPARE(track(*m_form), 1); // still fading
        QVERIFY(isPlaying(*m_form));
        play(*m_form, 300);
        QCOMPARE(track(*m_form), 2);
        QVERIFY(isPlaying(*m_form));
        // The short song ends; the list starts over with the looped one, from its start.
        play(*m_form, 5100);
        QCOMPARE(track(*m_form), 1);
        QVERIFY(isPlaying(*m_form));
        QVERIFY(position(*m_form) < 5);
    }

    void steppingForwardCrossesTheJumps()
    {
        setPlaylist(*m_form, { m_looped, m_short });
        m_form->Command3_Click();
        play(*m_form, 19'000); // just before the first jump, at 19.68 s
        for (int i = 0; i < 5; ++i)
            m_form->Command12_Click(); // a second forward each
        QCOMPARE(track(*m_form), 1);
        QVERIFY(isPlaying(*m_form));
        QVERIFY(position(*m_form) >= 240 && position(*m_form) <= 241);
    }

private:
    QTemporaryDir m_dir;
    QString m_looped;
    QString m_short;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_MonitorLoop)
#include "tst_monitorloop.moc"
