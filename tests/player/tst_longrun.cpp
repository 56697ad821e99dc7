// An evening's unattended run, compressed: ten thousand tracks in continuous random
// intro play on the manual clock, with every kind of broken entry mixed into the
// Playlist. The player must keep playing and the process must not grow.

#include "HostileFiles.h"
#include "PlayerTestKit.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>

using namespace sequora::test;

namespace {

constexpr int kTracks = 10000;
constexpr int kWarmUp = kTracks / 10;
constexpr int kGoodSongs = 20;
constexpr int64_t kIntroUnits = 150;
// Allocator noise, not growth: 9,000 tracks leaking even a few hundred bytes each
// would cross it.
constexpr qint64 kAllowedGrowthKb = 2048;

} // namespace

class tst_LongRun : public QObject {
    Q_OBJECT

private slots:
    void tenThousandRandomIntrosWithBrokenEntries();
};

void tst_LongRun::tenThousandRandomIntrosWithBrokenEntries()
{
    keepApartFromOtherCopies();
    const qint64 atStart = processSizeKb();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    sequora::midi::engine::useManualClock();

    QStringList good;
    for (int i = 0; i < kGoodSongs; ++i) // 8 to 46 seconds: some end before their intro
        good << writeSong(dir, QStringLiteral("song%1.mid").arg(i), 80 + 19 * i);
    const QString fifo = makeFifo(dir, "pipe.mid");
    QVERIFY(!fifo.isEmpty());
    QString sparse = makeSparse(dir, "4gib.mid", 4ull << 30);
    const QStringList broken { writeBroken(dir, "text.mid"), makeEmpty(dir, "empty.mid"),
        dir.filePath("missing.mid"), makeFolder(dir, "x.mid"), fifo,
        makeLink(dir, "zero.mid", "/dev/zero"), makeEndlessEmptyTrack(dir, "endless-empty.mid"),
        sparse.isEmpty() ? writeBroken(dir, "big.mid") : sparse };
    // Entry 1 plays only at the start of each round; the rest are drawn at random.
    QStringList list { good.first() };
    for (int i = 1; i < kGoodSongs; ++i) {
        list << good[i];
        if (i <= broken.size())
            list << broken[i - 1];
    }

    FifoWatch watch(fifo, std::chrono::minutes(10));
    CaughtBoxes boxes;
    Form1 form;
    QVERIFY(form.Form_Load());
    setPlaylist(form, list);
    form.mnuRandPlay_Click();
    form.mnuRenPlay_Click();
    form.mnuIntoPlay_Click();
    form.Command3_Click();

    QElapsedTimer timer;
    timer.start();
    QList<int> loads(list.size());
    qint64 afterWarmUp = 0;
    for (int i = 0; i < kTracks; ++i) {
        const int64_t length = form.device().Length();
        if (length > 0) {
            // A song: straight to the end of its intro (or of itself, when shorter).
            const int64_t threshold = std::min(length, kIntroUnits);
            advance(form, (threshold - position(form)) * kMsPerUnit - kMsPerUnit);
            advance(form, kMsPerUnit);
        } else {
            // A refused entry: the next tick passes it over.
            form.Timer1_Timer();
        }
        // Every step ends on the next entry, just started.
        QVERIFY2(isPlaying(form), qPrintable(QStringLiteral("stopped after %1 tracks").arg(i)));
        QCOMPARE(position(form), 0);
        ++loads[form.Combo1->currentIndex()];
        if (i == kWarmUp)
            afterWarmUp = processSizeKb();
    }
    const qint64 atEnd = processSizeKb();
    qInfo("%d tracks in %lld ms; process size: %lld kB at start, %lld kB after %d tracks, "
          "%lld kB at the end (%s)",
        kTracks, timer.elapsed(), atStart, afterWarmUp, kWarmUp, atEnd, kProcessSizeMeasure);

    QVERIFY(afterWarmUp > 0);
    QVERIFY2(atEnd - afterWarmUp < kAllowedGrowthKb, "the process grows with every track");
    QVERIFY(!loads.contains(0)); // every entry came up, broken ones included
    QVERIFY(boxes.texts.isEmpty());
    QVERIFY2(!watch.blocked(), "the FIFO was opened for reading");
}

QTEST_MAIN(tst_LongRun)
#include "tst_longrun.moc"
