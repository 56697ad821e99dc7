// Track selection and play, pause and stop: the loaded track, the track number, the
// state the device is left in, and the enabled pattern of the transport buttons.

#include "PlayerTestKit.h"

#include <QTest>

#include <memory>

using namespace sequora::test;
namespace engine = sequora::midi::engine;

namespace {

// Command3, Command4, Command6, Command8, Command9, Command11, Command12, in this order.
QString pattern(const Form1& f)
{
    QString out;
    for (const QPushButton* b : {f.Command3, f.Command4, f.Command6, f.Command8, f.Command9,
                                 f.Command11, f.Command12})
        out += b->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return out;
}

const QString kNoTrack = QStringLiteral("0000000");
const QString kLoaded = QStringLiteral("1010111");
const QString kPlayingPattern = QStringLiteral("0111111");
const QString kPaused = QStringLiteral("1111111");

} // namespace

class tst_Form1Transport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = m_dir.filePath("mci.log");
        engine::useManualClock();
        for (int i = 1; i <= 3; ++i)
            m_songs << writeSong(m_dir, QStringLiteral("track %1.mid").arg(i), 600);
    }

    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
        QFile::remove(m_log);
        qputenv("SEQUORA_MCI_LOG", QFile::encodeName(m_log));
    }

    void cleanup()
    {
        qunsetenv("SEQUORA_MCI_LOG");
        m_form.reset();
    }

    void playPausePauseAgainStop()
    {
        Form1& f = *m_form;
        QCOMPARE(pattern(f), kNoTrack);
        setPlaylist(f, m_songs);
        QCOMPARE(pattern(f), kLoaded);

        f.Command3_Click();
        QCOMPARE(pattern(f), kPlayingPattern);
        QCOMPARE(f.device().Mode(), std::string("PLAYING"));
        engine::advanceManualClock(2000);

        f.Command4_Click();
        QCOMPARE(pattern(f), kPaused);
        QVERIFY(f.device().Mode() != "PLAYING");
        engine::advanceManualClock(3000);
        QCOMPARE(position(f), 20);

        // Pause pressed again resumes where it was.
        f.Command4_Click();
        QCOMPARE(pattern(f), kPlayingPattern);
        engine::advanceManualClock(1000);
        QCOMPARE(position(f), 30);

        // Pause then play: the same.
        f.Command4_Click();
        f.Command3_Click();
        engine::advanceManualClock(500);
        QCOMPARE(position(f), 35);

        f.Command8_Click();
        QCOMPARE(pattern(f), kLoaded);
        QVERIFY(f.device().Mode() != "PLAYING");
        QCOMPARE(position(f), 0);
    }

    void playAndPauseWriteOnlyTheirButtons()
    {
        Form1& f = *m_form;
        setPlaylist(f, m_songs);
        f.mnuFileList_Click(); // the editor withdraws every command
        f.Command3_Click();
        QCOMPARE(pattern(f), QStringLiteral("0101000"));
        f.Command4_Click();
        QCOMPARE(pattern(f), QStringLiteral("1101000"));
    }

    void stopReturnsToEntryOne_data()
    {
        QTest::addColumn<QList<int>>("songs"); // indices into the written songs
        QTest::addColumn<int>("playing");
        QTest::newRow("entry 3, distinct paths") << QList<int>{0, 1, 2} << 2;
        QTest::newRow("entry 3 repeats entry 1") << QList<int>{0, 1, 0} << 2;
        QTest::newRow("entry 3, all the same") << QList<int>{2, 2, 2} << 2;
        QTest::newRow("entry 1 itself") << QList<int>{0, 1, 2} << 0;
    }
    void stopReturnsToEntryOne()
    {
        QFETCH(QList<int>, songs);
        QFETCH(int, playing);
        Form1& f = *m_form;
        QStringList list;
        for (int i : songs)
            list << m_songs.at(i);
        setPlaylist(f, list);
        f.selectEntry(playing);
        f.Command3_Click();
        engine::advanceManualClock(1500);

        QFile::remove(m_log);
        f.Command8_Click();
        QCOMPARE(f.Combo1->currentIndex(), 0);
        QCOMPARE(f.Label7->text(), QStringLiteral("[01]"));
        QCOMPARE(f.Text1->text(), list.at(0));
        QCOMPARE(QString::fromStdString(f.device().FileName()), list.at(0));
        QCOMPARE(pattern(f), kLoaded);
        QVERIFY(f.device().Mode() != "PLAYING");
        QCOMPARE(position(f), 0);
        // Reloaded even when already selected: by the selection, then by stop itself.
        QCOMPARE(countOpens(), 2);
    }

    void stopWithAnEmptySelectorDoesNothing()
    {
        Form1& f = *m_form;
        f.Command8_Click();
        QVERIFY(!QFile::exists(m_log));
        QCOMPARE(pattern(f), kNoTrack);
    }

    void choosingWhilePlayingStartsTheChosenTrack()
    {
        Form1& f = *m_form;
        setPlaylist(f, m_songs);
        f.Command3_Click();
        engine::advanceManualClock(2000);
        f.selectEntry(1);
        QCOMPARE(f.Label7->text(), QStringLiteral("[02]"));
        QCOMPARE(QString::fromStdString(f.device().FileName()), m_songs.at(1));
        QCOMPARE(f.device().Mode(), std::string("PLAYING"));
        QCOMPARE(position(f), 0);
        QCOMPARE(pattern(f), kPlayingPattern);
    }

    void choosingWhilePausedOrStoppedOnlyLoads()
    {
        Form1& f = *m_form;
        setPlaylist(f, m_songs);
        f.Command3_Click();
        f.Command4_Click();
        f.selectEntry(2);
        QVERIFY(f.device().Mode() != "PLAYING");
        QCOMPARE(pattern(f), kLoaded);
        QCOMPARE(f.Text1->text(), m_songs.at(2));
    }

    void userChoiceRunsTheSelection()
    {
        Form1& f = *m_form;
        setPlaylist(f, m_songs);
        f.show();
        f.Combo1->setFocus();
        QTest::keyClick(f.Combo1, Qt::Key_Down);
        QCOMPARE(f.Combo1->currentIndex(), 1);
        QCOMPARE(f.Label7->text(), QStringLiteral("[02]"));
        QCOMPARE(QString::fromStdString(f.device().FileName()), m_songs.at(1));
        f.hide();
    }

    void trackNumbersGrowPastTwoDigits()
    {
        Form1& f = *m_form;
        QStringList many;
        for (int i = 0; i < 123; ++i)
            many << m_songs.at(i % 3);
        setPlaylist(f, many);
        QCOMPARE(f.Label7->text(), QStringLiteral("[01]"));
        const QList<QPair<int, QString>> cases = {{8, "[09]"}, {9, "[10]"}, {122, "[123]"}};
        for (const auto& [index, text] : cases) {
            f.selectEntry(index);
            QCOMPARE(f.Label7->text(), text);
        }
    }

    void anEmptyEntryIsReportedAndChangesNothingElse()
    {
        Form1& f = *m_form;
        CaughtBoxes boxes;
        setPlaylist(f, {m_songs.at(0), QString(), m_songs.at(2)});
        f.Command3_Click();
        QFile::remove(m_log);

        f.selectEntry(1);
        QCOMPARE(boxes.texts, QStringList{QStringLiteral("予期せぬエラーが起こりました。")});
        QCOMPARE(boxes.captions, QStringList{QStringLiteral("Sequora")});
        QVERIFY(f.Text1->text().isEmpty());
        QCOMPARE(f.Label7->text(), QStringLiteral("[01]"));
        QCOMPARE(pattern(f), kPlayingPattern);
        QCOMPARE(QString::fromStdString(f.device().FileName()), m_songs.at(0));
        QCOMPARE(f.device().Mode(), std::string("PLAYING"));
        QCOMPARE(countOpens(), 0);
    }

    void listReadsOutsideTheListAreEmpty()
    {
        Form1& f = *m_form;
        QVERIFY(f.listText(-1).isEmpty());
        QVERIFY(f.listText(0).isEmpty());
        f.Combo1->addItems(m_songs);
        QCOMPARE(f.listText(2), m_songs.at(2));
        QVERIFY(f.listText(3).isEmpty());
        QVERIFY(f.listText(-1).isEmpty());

        // Selecting outside the list leaves selection and device alone.
        f.selectEntry(5);
        QCOMPARE(f.Combo1->currentIndex(), 0);
        QVERIFY(!QFile::exists(m_log));
    }

private:
    int countOpens() const
    {
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return static_cast<int>(file.readAll().count("\"open "));
    }

    QTemporaryDir m_dir;
    QString m_log;
    QStringList m_songs;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_Form1Transport)
#include "tst_form1_transport.moc"
