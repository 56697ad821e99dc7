// The display texts and the random index, without a window.

#include "player/PlayOrder.h"
#include "player/TimeText.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <set>

using namespace sequora::player;

class tst_MonitorText : public QObject {
    Q_OBJECT

private slots:
    void timeText_data()
    {
        QTest::addColumn<qint64>("units");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "00:00";
        QTest::newRow("half rounds to even 0") << qint64(5) << "00:00";
        QTest::newRow("9 rounds up") << qint64(9) << "00:01";
        QTest::newRow("half rounds to even 2") << qint64(15) << "00:02";
        QTest::newRow("25 stays 2") << qint64(25) << "00:02";
        QTest::newRow("59.5 s rounds to even 60") << qint64(595) << "01:00";
        QTest::newRow("one minute five") << qint64(650) << "01:05";
        QTest::newRow("ten minutes") << qint64(6000) << "10:00";
        QTest::newRow("past 16 bits of seconds") << qint64(60000) << "100:00";
        QTest::newRow("seventy minutes") << qint64(42000) << "70:00";
        QTest::newRow("a thousand minutes") << qint64(600000) << "1000:00";
        QTest::newRow("past the length") << qint64(-7) << "00:00";
    }
    void timeText()
    {
        QFETCH(qint64, units);
        QFETCH(QString, text);
        QCOMPARE(sequora::player::timeText(units), text);
    }

    void trackNumbers()
    {
        QCOMPARE(trackNumberText(1), QStringLiteral("[01]"));
        QCOMPARE(trackNumberText(9), QStringLiteral("[09]"));
        QCOMPARE(trackNumberText(10), QStringLiteral("[10]"));
        QCOMPARE(trackNumberText(123), QStringLiteral("[123]"));
        QCOMPARE(trackNumberText(32768), QStringLiteral("[32768]"));
    }

    void repliesWithoutAnswerAreNotNumbers()
    {
        QCOMPARE(unitsFromReply("0"), std::optional<int64_t>(0));
        QCOMPARE(unitsFromReply("4200000"), std::optional<int64_t>(4200000));
        QVERIFY(!unitsFromReply(""));
        QVERIFY(!unitsFromReply("12ab"));
        QVERIFY(!unitsFromReply(" 12"));
    }

    void randomIndexStaysInsideTheListAndNeverPicksTheFirst()
    {
        const float justBelowOne = std::nextafter(1.0f, 0.0f);
        for (int count : {2, 3, 17, 1024, 16777, 32767}) {
            QCOMPARE(randomNextIndex(count, 0.0f), 1);
            QCOMPARE(randomNextIndex(count, justBelowOne), count - 1);
        }
        // Two entries: the only pick is the second.
        QCOMPARE(randomNextIndex(2, 0.5f), 1);
        // Three entries split [0, 1) in halves.
        QCOMPARE(randomNextIndex(3, 0.49f), 1);
        QCOMPARE(randomNextIndex(3, 0.5f), 2);
    }

    void drawsCoverTheRangeWithoutReachingOne()
    {
        std::set<int> seen;
        for (int i = 0; i < 2000; ++i) {
            const float r = drawFromClock();
            QVERIFY(r >= 0.0f && r < 1.0f);
            seen.insert(randomNextIndex(5, r));
        }
        QCOMPARE(seen, (std::set<int>{1, 2, 3, 4}));
    }
};

QTEST_GUILESS_MAIN(tst_MonitorText)
#include "tst_monitortext.moc"
