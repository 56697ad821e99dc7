// The lyrics window follows the player: the line and the sung part as the song plays,
// at once after a step, a skip and a stop, from the monitor's own reading only: the
// device hears the same commands with the window open as without it.

#include "PlayerTestKit.h"
#include "info/LcdPicture.h"
#include "info/SongTextLoader.h"
#include "info/frmLyrics.h"

#include <QLabel>
#include <QTest>

#include <memory>

using namespace sequora::test;

namespace {

// Words a second apart from 1 s on (a tick is a millisecond): "la la" on one line,
// "li" on the next; the second song has other words.
QString writeLyricSong(const QTemporaryDir& dir, const QString& name, std::string_view first)
{
    SmfWriter smf(0, 500);
    smf.addTrack()
        .trackName(0, std::string("Song ") + std::string(first))
        .sysex(0, { 0x41, 0x10, 0x45, 0x12, 0x10, 0x00, 0x00, 'H', 'i', 0x3F, 0xF7 })
        .text(1000, 0x05, first)
        .text(1000, 0x05, " la\r")
        .text(1000, 0x05, "li")
        .noteOn(0, 0, 60, 90)
        .noteOff(7000, 0, 60);
    const QString path = dir.filePath(name);
    smf.writeFile(QFile::encodeName(path).toStdString());
    return path;
}

} // namespace

class tst_Lyrics : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = logInto(m_dir);
        m_songs << writeLyricSong(m_dir, "one.mid", "la") << writeLyricSong(m_dir, "two.mid", "do")
                << writeSong(m_dir, "silent.mid", 50);
    }

    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
        setPlaylist(*m_form, m_songs);
    }

    void cleanup() { m_form.reset(); }

    void followsPlaySeekSkipAndStop()
    {
        m_form->mnuViewLyrics_Click();
        frmLyrics* lyrics = m_form->lyricsWindow();
        QVERIFY(lyrics != nullptr);
        QVERIFY(lyrics->isVisible());
        QCOMPARE(lyrics->windowTitle(), "歌詞");
        settle();
        QCOMPARE(lyrics->lblTitle->text(), "Song la");
        QCOMPARE(lyrics->currentLine(), "la la");
        QCOMPARE(lyrics->sungLength(), 0);
        QCOMPARE(lyrics->lblLine2->text(), "li");
        QCOMPARE(lyrics->lblDisplay->text(), "Hi");

        m_form->Command3_Click();
        advance(*m_form, 1000);
        QCOMPARE(lyrics->sungLength(), 2); // "la"
        play(*m_form, 900);
        QCOMPARE(lyrics->sungLength(), 2);
        advance(*m_form, 100);
        QCOMPARE(lyrics->sungLength(), 5); // "la la", at 2.0 s within the tick
        advance(*m_form, 1000);
        QCOMPARE(lyrics->currentLine(), "li");
        QCOMPARE(lyrics->sungLength(), 2);
        QCOMPARE(lyrics->lblLine2->text(), QString());

        // Step back a second: the highlight goes back with it, before any tick.
        m_form->Command11_Click();
        QCOMPARE(lyrics->currentLine(), "la la");
        QCOMPARE(lyrics->sungLength(), 5);

        // The next song: its own words once read.
        m_form->Command6_Click();
        settle();
        QCOMPARE(lyrics->lblTitle->text(), "Song do");
        QCOMPARE(lyrics->currentLine(), "do la");
        QCOMPARE(lyrics->sungLength(), 0);

        // A song without words says so in one line.
        m_form->Command6_Click();
        settle();
        QCOMPARE(lyrics->currentLine(), frmLyrics::kNoLyrics);
        QCOMPARE(lyrics->lblLine2->text(), QString());
        QCOMPARE(lyrics->lblDisplay->text(), QString());

        // Stop: back to the first entry at its start.
        m_form->Command8_Click();
        m_form->Timer1_Timer();
        settle();
        QCOMPARE(lyrics->lblTitle->text(), "Song la");
        QCOMPARE(lyrics->sungLength(), 0);
    }

    void asksTheDeviceNothing()
    {
        // The same steps with the window closed and open give the same device log.
        const auto steps = [this] {
            QFile::remove(m_log);
            m_form->Command3_Click();
            play(*m_form, 2500);
            m_form->Command11_Click();
            m_form->Command4_Click();
            m_form->Timer1_Timer();
            return loggedCommands(m_log);
        };
        const QList<QByteArray> without = steps();
        m_form->Command8_Click();
        m_form->mnuViewLyrics_Click();
        settle();
        const QList<QByteArray> with = steps();
        QVERIFY(!without.isEmpty());
        QCOMPARE(with, without);
    }

    void aLoopSingsItsWordsAgain()
    {
        // The same words, looped from 0.5 s to 4 s: at 4.6 s the second pass is 1.1 s in.
        SmfWriter smf(0, 500);
        smf.addTrack()
            .text(500, 0x06, "loopStart")
            .text(500, 0x05, "la")
            .text(1000, 0x05, " la\r")
            .text(1000, 0x05, "li")
            .noteOn(0, 0, 60, 90)
            .noteOff(1000, 0, 60)
            .text(0, 0x06, "loopEnd")
            .endOfTrack(4000);
        const QString path = m_dir.filePath("looped.mid");
        smf.writeFile(QFile::encodeName(path).toStdString());
        setPlaylist(*m_form, { path });
        m_form->mnuViewLyrics_Click();
        frmLyrics* lyrics = m_form->lyricsWindow();
        settle();
        m_form->Command3_Click();
        play(*m_form, 3500);
        QCOMPARE(lyrics->currentLine(), "li");
        play(*m_form, 1100);
        QCOMPARE(position(*m_form), 46);
        QCOMPARE(lyrics->currentLine(), "la la");
        QCOMPARE(lyrics->sungLength(), 2);
    }

    void noSongLoaded()
    {
        Form1 form;
        QVERIFY(form.Form_Load());
        form.mnuViewLyrics_Click();
        QCOMPARE(form.lyricsWindow()->currentLine(), frmLyrics::kNoSong);
        // Opening it again shows the same window.
        QPointer<frmLyrics> first = form.lyricsWindow();
        form.mnuViewLyrics_Click();
        QCOMPARE(form.lyricsWindow(), first);
    }

private:
    // Waits for the song's texts, read off the window's thread, to arrive.
    void settle()
    {
        m_form->songTexts().waitForDone();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }

    QTemporaryDir m_dir;
    QString m_log;
    QStringList m_songs;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_Lyrics)
#include "tst_lyrics.moc"
