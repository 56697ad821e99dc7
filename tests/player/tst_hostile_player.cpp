// Hostile Playlist entries met by the player window: each is refused cleanly (skipped
// while playing, left alone while loaded), nothing blocks the 10 ms monitor, and files
// that change or vanish under the player do not disturb what it already plays.

#include "HostileFiles.h"
#include "PlayerTestKit.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace sequora::test;

namespace {

// A refusal reads no file and waits for nothing: a tick that skips one stays short.
constexpr qint64 kQuickTickMs = 500;

} // namespace

class tst_HostilePlayer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void hostileEntriesAreSkippedWhilePlaying();
    void hostileEntriesAreLeftAloneWhenChosen();
    void theMonitorKeepsTickingOnTheRealTimer();
    void aSongReplacedWhilePlayingPlaysOn();
    void aSongDeletedWhilePlayingPlaysOn();

private:
    QStringList hostile() const;

    QTemporaryDir m_dir;
    QString m_good1, m_good2, m_endless;
    QString m_empty, m_sparse, m_endlessEmpty, m_fifo, m_zero, m_folder, m_loop, m_text, m_missing;
    std::unique_ptr<CaughtBoxes> m_boxes;
    std::unique_ptr<Form1> m_form;
};

void tst_HostilePlayer::initTestCase()
{
    keepApartFromOtherCopies();
    QVERIFY(m_dir.isValid());
    sequora::midi::engine::useManualClock();
    m_good1 = writeSong(m_dir, "good1.mid", 20);
    m_good2 = writeSong(m_dir, "good2.mid", 20);
    m_endless = makeEndlessTrackSong(m_dir, "endless-track.mid", 30);
    m_empty = makeEmpty(m_dir, "empty.mid");
    m_sparse = makeSparse(m_dir, "4gib.mid", 4ull << 30);
    if (m_sparse.isEmpty())
        m_sparse = makeEmpty(m_dir, "4gib.mid"); // still a refusal, just not a huge one
    m_endlessEmpty = makeEndlessEmptyTrack(m_dir, "endless-empty.mid");
    m_fifo = makeFifo(m_dir, "pipe.mid");
    QVERIFY(!m_fifo.isEmpty());
    m_zero = makeLink(m_dir, "zero.mid", "/dev/zero");
    QVERIFY(!m_zero.isEmpty());
    m_folder = makeFolder(m_dir, "x.mid");
    m_loop = makeLink(m_dir, "loop.mid", m_dir.filePath("loop.mid"));
    QVERIFY(!m_loop.isEmpty());
    m_text = writeBroken(m_dir, "text.mid");
    m_missing = m_dir.filePath("missing.mid");
}

void tst_HostilePlayer::init()
{
    m_boxes = std::make_unique<CaughtBoxes>();
    m_form = std::make_unique<Form1>();
    QVERIFY(m_form->Form_Load());
}

void tst_HostilePlayer::cleanup()
{
    m_form.reset();
    // A refused file is no error of the program's: it never shows a message for one.
    QVERIFY2(m_boxes->texts.isEmpty(), qPrintable(m_boxes->texts.join('\n')));
    m_boxes.reset();
}

QStringList tst_HostilePlayer::hostile() const
{
    return { m_empty, m_sparse, m_endlessEmpty, m_fifo, m_zero, m_folder, m_loop, m_text,
        m_missing };
}

void tst_HostilePlayer::hostileEntriesAreSkippedWhilePlaying()
{
    FifoWatch watch(m_fifo);
    const QStringList bad = hostile();
    setPlaylist(*m_form, QStringList { m_good1 } << bad << m_endless << m_good2);
    m_form->Command3_Click();
    play(*m_form, 2000);

    // Each run of the monitor on a refused entry moves on by exactly one, at once.
    for (int i = 0; i < bad.size(); ++i) {
        QCOMPARE(track(*m_form), 2 + i);
        QVERIFY(isPlaying(*m_form));
        QElapsedTimer tick;
        tick.start();
        m_form->Timer1_Timer();
        QVERIFY2(tick.elapsed() < kQuickTickMs, qPrintable(bad[i]));
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:00"));
    }

    // A track whose length field runs past the end of the file plays what the file holds.
    QCOMPARE(QString::fromStdString(m_form->device().FileName()), m_endless);
    QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
    QCOMPARE(m_form->device().Length(), 30);
    play(*m_form, 2900);
    QCOMPARE(QString::fromStdString(m_form->device().FileName()), m_endless);
    play(*m_form, 100);
    QCOMPARE(QString::fromStdString(m_form->device().FileName()), m_good2);
    QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
    QVERIFY2(!watch.blocked(), "a FIFO in the Playlist was opened for reading");
}

void tst_HostilePlayer::hostileEntriesAreLeftAloneWhenChosen()
{
    FifoWatch watch(m_fifo);
    setPlaylist(*m_form, QStringList { m_good1 } << hostile());
    for (int i = 1; i < m_form->Combo1->count(); ++i) {
        // The user picks the entry while nothing plays: it loads (as far as the player
        // can tell) and waits; the monitor leaves it be.
        m_form->selectEntry(i);
        QVERIFY(isLoaded(*m_form));
        for (int tick = 0; tick < 5; ++tick)
            advance(*m_form, 10);
        QCOMPARE(track(*m_form), i + 1);
        QVERIFY(isLoaded(*m_form));
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:00"));
        // Play on it is refused by the device and the next tick moves on.
        m_form->Command3_Click();
        m_form->Timer1_Timer();
        QCOMPARE(track(*m_form), i + 1 == m_form->Combo1->count() ? 1 : i + 2);
        m_form->Command8_Click();
    }
    QVERIFY2(!watch.blocked(), "a FIFO in the Playlist was opened for reading");
}

void tst_HostilePlayer::theMonitorKeepsTickingOnTheRealTimer()
{
    // The window's own timer this time, with the event loop running: the refusals
    // happen inside its ticks, and the ticks go on arriving.
    FifoWatch watch(m_fifo);
    const QStringList bad = hostile();
    setPlaylist(*m_form, QStringList(bad) << m_good1);
    QSignalSpy ticks(m_form->Timer1, &QTimer::timeout);
    m_form->Command3_Click();
    QTRY_COMPARE_WITH_TIMEOUT(track(*m_form), bad.size() + 1, 5000);
    QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
    const int before = ticks.count();
    QTest::qWait(300);
    // At 10 ms a tick, 300 ms hold about 30; a loaded machine still manages a third.
    QVERIFY2(ticks.count() - before >= 10, qPrintable(QString::number(ticks.count() - before)));
    QCOMPARE(track(*m_form), bad.size() + 1);
    QVERIFY2(!watch.blocked(), "a FIFO in the Playlist was opened for reading");
}

void tst_HostilePlayer::aSongReplacedWhilePlayingPlaysOn()
{
    QTemporaryDir dir;
    const QString song = writeSong(dir, "song.mid", 100);
    setPlaylist(*m_form, { song });
    m_form->Command3_Click();
    play(*m_form, 3000);

    // Replaced the way downloads and editors do it: a new file renamed over the old.
    const QString longer = writeSong(dir, "longer.mid", 250);
    QVERIFY(
        ::rename(QFile::encodeName(longer).constData(), QFile::encodeName(song).constData()) == 0);
    play(*m_form, 2000);
    QCOMPARE(position(*m_form), 50);
    QCOMPARE(m_form->device().Length(), 100); // the song in memory, not the file

    // Rewritten in place with something that is no song at all: still plays on.
    {
        QFile file(song);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("garbage");
    }
    play(*m_form, 4900);
    QCOMPARE(position(*m_form), 99);
    QVERIFY(isPlaying(*m_form));

    // The end of the one-entry Playlist loads entry 1 again: now the file's new content.
    writeSong(dir, "song.mid", 250);
    play(*m_form, 100);
    QVERIFY(isLoaded(*m_form));
    QCOMPARE(m_form->device().Length(), 250);
    QCOMPARE(position(*m_form), 0);
}

void tst_HostilePlayer::aSongDeletedWhilePlayingPlaysOn()
{
    QTemporaryDir dir;
    const QString doomed = writeSong(dir, "doomed.mid", 30);
    setPlaylist(*m_form, { doomed, m_good1 });
    m_form->mnuRenPlay_Click();
    m_form->Command3_Click();
    play(*m_form, 1000);
    QVERIFY(QFile::remove(doomed));
    play(*m_form, 2000);
    QCOMPARE(track(*m_form), 2);
    QVERIFY(isPlaying(*m_form));
    // Continuous play comes round to the deleted entry: it is skipped like any missing
    // file, and the Playlist goes on.
    play(*m_form, 2000);
    QCOMPARE(track(*m_form), 1);
    m_form->Timer1_Timer();
    QCOMPARE(track(*m_form), 2);
    QVERIFY(isPlaying(*m_form));
}

QTEST_MAIN(tst_HostilePlayer)
#include "tst_hostile_player.moc"
