// A long unattended run: thousands of intros in continuous random play, on the manual
// clock, with the process size staying flat.

#include "HostileFiles.h"
#include "PlayerTestKit.h"

#include <QTest>

using namespace sequora::test;

namespace {

constexpr int kTracks = 2000;
constexpr int kWarmUp = 200;
constexpr int64_t kIntroMs = 150 * kMsPerUnit;
// Allocator noise, not growth per track: 1,800 tracks leaking even a few kilobytes
// each would cross it.
constexpr qint64 kAllowedGrowthKb = 2048;


} // namespace

class tst_MonitorLong : public QObject {
    Q_OBJECT

private slots:
    void thousandsOfRandomIntrosKeepTheSizeFlat()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        sequora::midi::engine::useManualClock();
        QStringList list;
        for (int i = 0; i < 24; ++i)
            list << writeSong(dir, QStringLiteral("song%1.mid").arg(i), 1200 + 37 * i);

        Form1 form;
        QVERIFY(form.Form_Load());
        setPlaylist(form, list);
        form.mnuRandPlay_Click();
        form.mnuRenPlay_Click();
        form.mnuIntoPlay_Click();
        form.Command3_Click();

        QList<int> count(list.size() + 1);
        qint64 afterWarmUp = 0;
        for (int i = 0; i < kTracks; ++i) {
            // Every intro ends exactly 15 seconds in, and the next track starts at 0.
            advance(form, kIntroMs - kMsPerUnit);
            QCOMPARE(position(form), 149);
            advance(form, kMsPerUnit);
            QVERIFY(isPlaying(form));
            QCOMPARE(position(form), 0);
            ++count[track(form)];
            if (i == kWarmUp)
                afterWarmUp = processSizeKb();
        }
        const qint64 atEnd = processSizeKb();
        qInfo("%s after %d tracks: %lld kB, after %d: %lld kB", kProcessSizeMeasure, kWarmUp, afterWarmUp,
              kTracks, atEnd);
        QVERIFY(afterWarmUp > 0);
        QVERIFY2(atEnd - afterWarmUp < kAllowedGrowthKb, "the process grows with every track");
        // Every entry played; entry 1 comes exactly after each end of the last entry.
        QVERIFY(!count.mid(1).contains(0));
        QVERIFY(qAbs(count[1] - count[list.size()]) <= 1);
    }
};

QTEST_MAIN(tst_MonitorLong)
#include "tst_monitorlong.moc"
