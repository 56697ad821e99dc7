// The monitor and entries the device cannot play, and its message box.

#include "PlayerTestKit.h"

#include <QTest>

#include <memory>

using namespace sequora::test;

class tst_MonitorFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        sequora::midi::engine::useManualClock();
        m_good1 = writeSong(m_dir, "good1.mid", 20);
        m_good2 = writeSong(m_dir, "good2.mid", 20);
        m_broken = writeBroken(m_dir, "broken.mid");
        m_missing = m_dir.filePath("missing.mid");
    }

    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
    }

    void cleanup() { m_form.reset(); }

    void brokenEntriesAreSkippedWhilePlaying()
    {
        CaughtBoxes boxes;
        setPlaylist(*m_form, {m_good1, m_broken, m_missing, m_good2});
        m_form->Command3_Click();
        play(*m_form, 2000);
        QCOMPARE(track(*m_form), 2);
        QVERIFY(isPlaying(*m_form));
        m_form->Timer1_Timer(); // past the broken one
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:00"));
        QCOMPARE(track(*m_form), 3);
        m_form->Timer1_Timer(); // past the missing one
        QCOMPARE(track(*m_form), 4);
        QCOMPARE(m_form->device().Mode(), std::string("PLAYING"));
        QVERIFY(boxes.texts.isEmpty());
    }

    void brokenEntryIsLeftAloneWhenNotPlaying()
    {
        CaughtBoxes boxes;
        m_form->mnuViewTime2_Click();
        setPlaylist(*m_form, {m_broken, m_good1});
        for (int i = 0; i < 50; ++i)
            advance(*m_form, 10);
        QCOMPARE(track(*m_form), 1);
        QVERIFY(isLoaded(*m_form));
        QCOMPARE(m_form->Label3->text(), QStringLiteral("00:00"));

        // Nor while the editor is open (no commands offered).
        for (QPushButton* b : {m_form->Command3, m_form->Command4, m_form->Command6,
                               m_form->Command8, m_form->Command9, m_form->Command11,
                               m_form->Command12})
            b->setEnabled(false);
        play(*m_form, 1000);
        QCOMPARE(track(*m_form), 1);
        QVERIFY(boxes.texts.isEmpty());
    }

    void aPlaylistOfBrokenEntriesEndsStopped_data()
    {
        QTest::addColumn<bool>("random");
        QTest::addColumn<bool>("continuous");
        QTest::newRow("sequential") << false << false;
        QTest::newRow("sequential, continuous") << false << true;
        QTest::newRow("random, continuous") << true << true;
    }
    void aPlaylistOfBrokenEntriesEndsStopped()
    {
        QFETCH(bool, random);
        QFETCH(bool, continuous);
        setPlaylist(*m_form, {m_broken, m_missing, m_broken, m_missing, m_broken});
        if (random)
            m_form->mnuRandPlay_Click();
        if (continuous)
            m_form->mnuRenPlay_Click();
        m_form->Command3_Click();
        int runs = 0;
        while (!isLoaded(*m_form) && runs < 10000) {
            m_form->Timer1_Timer();
            ++runs;
        }
        QVERIFY2(isLoaded(*m_form), "the player kept cycling");
        QCOMPARE(track(*m_form), 1);
        play(*m_form, 1000);
        QCOMPARE(track(*m_form), 1);
        QVERIFY(isLoaded(*m_form));
    }

    void oneGoodEntryKeepsContinuousPlayGoing()
    {
        setPlaylist(*m_form, {m_broken, m_good1, m_missing});
        m_form->mnuRenPlay_Click();
        m_form->Command3_Click();
        for (int pass = 0; pass < 3; ++pass) {
            m_form->Timer1_Timer();
            QCOMPARE(track(*m_form), 2);
            play(*m_form, 2000);
            QCOMPARE(track(*m_form), 3);
            m_form->Timer1_Timer();
            QCOMPARE(track(*m_form), 1);
            QVERIFY(isPlaying(*m_form));
        }
    }

    void anEmptyEntryShowsOneMessageAtATime()
    {
        CaughtBoxes boxes;
        setPlaylist(*m_form, {m_good1, QString()});
        m_form->Command3_Click();
        // Ticks arriving while the box is open must not open another.
        boxes.during = [this] {
            m_form->Timer1_Timer();
            m_form->Timer1_Timer();
        };
        play(*m_form, 2000);
        QCOMPARE(boxes.texts, QStringList{QStringLiteral("予期せぬエラーが起こりました。")});
        QCOMPARE(boxes.captions, QStringList{QStringLiteral("Sequora")});
        // The run ended with the selection and the loaded file as they were.
        QCOMPARE(track(*m_form), 1);
        QCOMPARE(m_form->Label7->text(), QStringLiteral("[01]"));
        QCOMPARE(QString::fromStdString(m_form->device().FileName()), m_good1);
        QVERIFY(m_form->Text1->text().isEmpty());
    }

private:
    QTemporaryDir m_dir;
    QString m_good1;
    QString m_good2;
    QString m_broken;
    QString m_missing;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_MonitorFaults)
#include "tst_monitorfaults.moc"
