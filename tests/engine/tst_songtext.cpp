// A song's words as the lyrics window reads them: where they come from (lyric events,
// .kar text events, Yamaha XF, plain text), the one encoding of the song, the lines its
// marks or pauses make, the title, and what it writes on the module's display.

#include "common/SmfWriter.h"
#include "platform/midi/file/SongText.h"

#include <QElapsedTimer>
#include <QtTest>

#include <filesystem>
#include <string>

using sequora::midi::LyricSource;
using sequora::midi::ModuleDisplay;
using sequora::midi::SongText;
using sequora::test::Bytes;
using sequora::test::SmfTrack;
using sequora::test::SmfWriter;
namespace text = sequora::midi::text;

Q_DECLARE_METATYPE(LyricSource)
Q_DECLARE_METATYPE(text::Encoding)

namespace {

// At 500 ticks a quarter and the default tempo a tick is a millisecond.
constexpr uint16_t kDivision = 500;

QByteArray image(const SmfWriter& smf)
{
    const Bytes bytes = smf.bytes();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

Bytes bytesOf(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

// A chunk body of meta events, as XF's own chunks hold them.
Bytes chunkOf(SmfTrack& track)
{
    Bytes body = track.data();
    body.insert(body.end(), { 0x00, 0xFF, 0x2F, 0x00 });
    return body;
}

// The song's lines, syllables joined by "|", a paragraph's first line marked with "¶".
QStringList linesOf(const SongText& song)
{
    QStringList out;
    for (const auto& line : song.lines()) {
        QStringList syllables;
        for (uint32_t i = line.first; i < line.first + line.count; ++i) {
            const std::string_view s = song.syllable(i);
            syllables << QString::fromUtf8(s.data(), qsizetype(s.size()));
        }
        out << (line.newParagraph ? QStringLiteral("¶") : QString()) + syllables.join('|');
    }
    return out;
}

SongText parsed(const QByteArray& bytes)
{
    SongText song;
    const auto result = SongText::parse(
        { reinterpret_cast<const uint8_t*>(bytes.constData()), std::size_t(bytes.size()) }, song);
    if (!result.playable())
        qWarning("not read: %s", result.message.c_str());
    return song;
}

// Roland DT1 to a GS module: F0 41 10 45 12 address data sum F7.
Bytes roland(uint32_t address, const Bytes& data, int checksumError = 0)
{
    Bytes m { 0x41, 0x10, 0x45, 0x12, uint8_t(address >> 16), uint8_t(address >> 8),
        uint8_t(address) };
    m.insert(m.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::size_t i = 4; i < m.size(); ++i)
        sum += m[i];
    m.push_back(uint8_t((128 - sum % 128 + checksumError) % 128));
    m.push_back(0xF7);
    return m;
}

// XG parameter change to an XG module: F0 43 10 4C address data F7.
Bytes yamaha(uint32_t address, const Bytes& data)
{
    Bytes m { 0x43, 0x10, 0x4C, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address) };
    m.insert(m.end(), data.begin(), data.end());
    m.push_back(0xF7);
    return m;
}

} // namespace

class TestSongText : public QObject {
    Q_OBJECT

private slots:
    void readsWords_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<LyricSource>("source");
        QTest::addColumn<text::Encoding>("encoding");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("lines");

        {
            SmfWriter smf(1, kDivision);
            smf.addTrack().trackName(0, "  Sequence name ").tempo(0, 500000);
            smf.addTrack()
                .trackName(0, "Piano")
                .text(0, 0x05, "Hel")
                .text(100, 0x05, "lo\r")
                .text(100, 0x05, "world")
                .text(100, 0x05, "\n")
                .text(100, 0x05, "a")
                .text(100, 0x05, "gain");
            QTest::newRow("lyric events, CR and LF")
                << image(smf) << LyricSource::LyricEvents << text::Encoding::Utf8 << "Sequence name"
                << QStringList { "Hel|lo", "world", "¶a|gain" };
        }
        {
            // No marks: a second's pause starts a line; a shorter one does not.
            SmfWriter smf(0, kDivision);
            smf.addTrack().text(0, 0x05, "one ").text(999, 0x05, "two ").text(1000, 0x05, "three");
            QTest::newRow("lyric events, pauses")
                << image(smf) << LyricSource::LyricEvents << text::Encoding::Utf8 << ""
                << QStringList { "one |two ", "three" };
        }
        {
            // A .kar file; CP932 words with 0x5C trail bytes (ソ 83 5C, 表 95 5C) that are
            // no paragraph marks.
            SmfWriter smf(1, kDivision);
            smf.addTrack().text(0, 0x01, "@KMIDI KARAOKE FILE").text(0, 0x01, "@V0100");
            smf.addTrack()
                .text(0, 0x01, "@LJAPN")
                .text(0, 0x01, "@T\x83\x5C\x83\x89")
                .text(0, 0x01, "@TArtist")
                .text(0, 0x01, "\\\x83\x5C")
                .text(200, 0x01, "\x83\x89")
                .text(200, 0x01, "/\x95\x5C")
                .text(200, 0x01, "\\\x82\xA0");
            smf.addTrack().noteOn(0, 0, 60, 100).noteOff(800, 0, 60);
            QTest::newRow("kar, shift_jis")
                << image(smf) << LyricSource::Karaoke << text::Encoding::Cp932 << "ソラ"
                << QStringList { "¶ソ|ラ", "表", "¶あ" };
        }
        {
            // Yamaha XF: the version id, the information header in its chunk (the title in
            // the Japanese part), the lyrics header in the karaoke chunk, XF's marks.
            SmfWriter smf(0, kDivision);
            smf.addTrack()
                .meta(0, 0x7F, bytesOf(std::string_view("\x43\x7B\x00XF02\x00\x1B", 9)))
                .trackName(0, "Track 1")
                .text(0, 0x05, "\x96\xB2^\x82\xF0")
                .text(300, 0x05, "/\x8C\xA9")
                .text(300, 0x05, "<\x82\xC4")
                .text(300, 0x05, "\x82\xE0");
            SmfTrack info;
            info.text(0, 0x01, "XFhd:1999/01/13:JP:J-POP:0:1:m:::::");
            info.text(0, 0x01, "XFln:JP:\x89\xCC\x82\xCC\x96\xBC:Composer");
            SmfTrack karaoke;
            karaoke.text(0, 0x07, "$Lyrc:1:270:JP");
            smf.addChunk("XFIH", chunkOf(info)).addChunk("XFKM", chunkOf(karaoke));
            QTest::newRow("xf") << image(smf) << LyricSource::Xf << text::Encoding::Cp932
                                << "歌の名" << QStringList { "夢 を", "見", "¶て|も" };
        }
        {
            SmfWriter smf(0, kDivision);
            smf.addTrack()
                .trackName(0, "Plain")
                .text(0, 0x01, "Made by someone")
                .text(2000, 0x01, "Thanks\r\nfor listening");
            QTest::newRow("text events only")
                << image(smf) << LyricSource::TextEvents << text::Encoding::Utf8 << "Plain"
                << QStringList { "Made by someone", "Thanks", "¶for listening" };
        }
        {
            // One encoding for the whole song: EUC-JP kana in the words decide it, and
            // the title follows.
            SmfWriter smf(0, kDivision);
            smf.addTrack()
                .trackName(0, "\xA4\xA6\xA4\xBF")
                .text(0, 0x05, "\xA4\xB5")
                .text(100, 0x05, "\xA4\xAF\xA4\xE9\r")
                .text(100, 0x05, "la");
            QTest::newRow("euc-jp")
                << image(smf) << LyricSource::LyricEvents << text::Encoding::EucJp << "うた"
                << QStringList { "さ|くら", "la" };
        }
        {
            // A Latin-1 title beside plain ASCII words: nothing reads as Japanese.
            SmfWriter smf(0, kDivision);
            smf.addTrack().trackName(0, "Caf\xE9").text(0, 0x05, "oui ").text(100, 0x05, "non");
            QTest::newRow("latin-1 title")
                << image(smf) << LyricSource::LyricEvents << text::Encoding::Cp1252 << "Café"
                << QStringList { "oui |non" };
        }
        {
            // Lyric events copied from a .kar file keep its slashes; the @ tags are text.
            SmfWriter smf(0, kDivision);
            smf.addTrack()
                .text(0, 0x01, "@TKar title")
                .text(0, 0x05, "\\Row")
                .text(100, 0x05, " row")
                .text(100, 0x05, "/your")
                .text(100, 0x05, " boat");
            QTest::newRow("lyric events with slashes")
                << image(smf) << LyricSource::LyricEvents << text::Encoding::Utf8 << "Kar title"
                << QStringList { "¶Row| row", "your| boat" };
        }
        {
            // The words twice, in a melody track and a words track: read once.
            SmfWriter smf(1, kDivision);
            smf.addTrack().text(0, 0x05, "la").text(100, 0x05, "la");
            smf.addTrack().text(0, 0x05, "do").text(100, 0x05, "re").text(100, 0x05, "mi");
            QTest::newRow("two lyric tracks")
                << image(smf) << LyricSource::LyricEvents << text::Encoding::Utf8 << ""
                << QStringList { "do|re|mi" };
        }
        {
            // Mixed encodings: a UTF-8 title (春) on CP932 lyrics (さくら) keeps both readable.
            SmfWriter smf(0, kDivision);
            smf.addTrack().trackName(0, "\xE6\x98\xA5").text(0, 0x05, "\x82\xB3\x82\xAD").text(100, 0x05, "\x82\xE7");
            QTest::newRow("mixed encodings")
                << image(smf) << LyricSource::LyricEvents << text::Encoding::Cp932 << "春"
                << QStringList { "さく|ら" };
        }
        {
            // A doubled melody: each syllable twice at one time, sung once.
            SmfWriter smf(0, kDivision);
            smf.addTrack().text(0, 0x05, "ci").text(0, 0x05, "ci").text(100, 0x05, "ty ").text(0, 0x05, "ty ");
            QTest::newRow("doubled melody")
                << image(smf) << LyricSource::LyricEvents << text::Encoding::Utf8 << ""
                << QStringList { "ci|ty " };
        }
        {
            // A karaoke file whose lyric stream is damaged: more lyric events than karaoke
            // syllables, but all after the music. Its karaoke words are sung.
            SmfWriter smf(1, kDivision);
            smf.addTrack().noteOn(0, 0, 60, 100).noteOff(3000, 0, 60);
            smf.addTrack()
                .text(0, 0x01, "@KMIDI KARAOKE FILE")
                .text(0, 0x01, "@TSong")
                .text(100, 0x01, "\\Row")
                .text(500, 0x01, " row")
                .text(500, 0x01, "/boat");
            SmfTrack& lyrics = smf.addTrack().text(4000, 0x05, "x");
            for (int i = 0; i < 5; ++i)
                lyrics.text(100, 0x05, "y");
            QTest::newRow("karaoke over damaged lyrics")
                << image(smf) << LyricSource::Karaoke << text::Encoding::Utf8 << "Song"
                << QStringList { "¶Row| row", "boat" };
        }
        {
            // Lyrics that come after the last note, beside text events that do not.
            SmfWriter smf(1, kDivision);
            smf.addTrack().noteOn(0, 0, 60, 100).noteOff(2000, 0, 60);
            smf.addTrack().text(0, 0x01, "one").text(1500, 0x01, "two");
            smf.addTrack().text(3000, 0x05, "late").text(100, 0x05, "later");
            QTest::newRow("lyrics past the music")
                << image(smf) << LyricSource::TextEvents << text::Encoding::Utf8 << ""
                << QStringList { "one", "two" };
        }
        {
            // A Shift_JIS song with one damaged text: its title reads right, the damage is
            // one mark in its own syllable.
            SmfWriter smf(0, kDivision);
            SmfTrack& t = smf.addTrack().trackName(0, "\x81\x79 \x93\x8c\x95\xfb \x81\x7a");
            t.text(0, 0x05, "\x82\xB3\x82\xAD")
                .text(100, 0x05, "\x82\xE7\x81\x5B")
                .text(100, 0x05, "\x82\xFF\x82\xA0");
            QTest::newRow("one damaged text")
                << image(smf) << LyricSource::LyricEvents << text::Encoding::Cp932
                << QStringLiteral("【 東方 】") << QStringList { "さく|らー|\uFFFDあ" };
        }
        {
            SmfWriter smf(0, kDivision);
            smf.addTrack().noteOn(0, 0, 60, 100).noteOff(500, 0, 60);
            QTest::newRow("none") << image(smf) << LyricSource::None << text::Encoding::Utf8 << ""
                                  << QStringList {};
        }
        {
            // An overlong event is cut, invalid bytes show as replacement characters.
            SmfWriter smf(0, kDivision);
            smf.addTrack().text(0, 0x05, std::string(100000, 'x')).text(10, 0x05, "ok\xFF");
            QTest::newRow("hostile")
                << image(smf) << LyricSource::LyricEvents << text::Encoding::Cp1252 << ""
                << QStringList { QString(SongText::kMaxSyllableBytes, 'x') + "|okÿ" };
        }
    }
    void readsWords()
    {
        QFETCH(QByteArray, file);
        QFETCH(LyricSource, source);
        QFETCH(text::Encoding, encoding);
        QFETCH(QString, title);
        QFETCH(QStringList, lines);

        const SongText song = parsed(file);
        QCOMPARE(song.source(), source);
        QCOMPARE(int(song.encoding()), int(encoding));
        QCOMPARE(QString::fromStdString(song.title()), title);
        QCOMPARE(linesOf(song), lines);
    }

    void timesFollowTheTempoMap()
    {
        // 120 bpm for a quarter, then 60 bpm: the third syllable comes at 0.5 + 1.0 s.
        SmfWriter smf(1, 480);
        smf.addTrack().tempo(0, 500000).tempo(480, 1000000);
        smf.addTrack().text(0, 0x05, "a").text(480, 0x05, "b").text(480, 0x05, "c");
        const SongText song = parsed(image(smf));
        QCOMPARE(song.syllableCount(), std::size_t(3));
        QCOMPARE(song.syllableTimeUs(1), 500000);
        QCOMPARE(song.syllableTimeUs(2), 1500000);
        QCOMPARE(song.sungBy(-1), std::size_t(0));
        QCOMPARE(song.sungBy(0), std::size_t(1));
        QCOMPARE(song.sungBy(1499999), std::size_t(2));
        QCOMPARE(song.sungBy(1500000), std::size_t(3));
    }

    void titleCutOnACharacter_data()
    {
        QTest::addColumn<QByteArray>("title");
        QTest::addColumn<QString>("shown");
        // "a" and 150 kana: 301 bytes, cut where a whole kana still fits (255 bytes).
        QByteArray sjis("a");
        QByteArray utf8;
        for (int i = 0; i < 150; ++i) {
            sjis += "\x82\xA0";
            utf8 += "\xE3\x81\x82";
        }
        QTest::newRow("shift_jis") << sjis << QStringLiteral("a") + QString(127, QChar(0x3042));
        QTest::newRow("utf-8") << utf8 << QString(85, QChar(0x3042));
    }

    void titleCutOnACharacter()
    {
        QFETCH(QByteArray, title);
        QFETCH(QString, shown);
        SmfWriter smf(0, kDivision);
        smf.addTrack().trackName(0, title.toStdString()).noteOn(0, 0, 60, 100).noteOff(500, 0, 60);
        const SongText song = parsed(image(smf));
        QCOMPARE(QString::fromStdString(song.title()), shown);
    }

    void titleFallsBackToTheFileName()
    {
        QTemporaryDir dir;
        SmfWriter smf(0, kDivision);
        smf.addTrack().noteOn(0, 0, 60, 100).noteOff(500, 0, 60);
        // The name's own bytes, in CP932.
        const std::string path = dir.path().toStdString() + "/\x83\x65\x83\x58\x83\x67.mid";
        smf.writeFile(path);
        SongText song;
        QVERIFY(SongText::load(path, song).playable());
        QCOMPARE(QString::fromStdString(song.title()), "テスト");
        QVERIFY(song.titleFromFileName());
        std::filesystem::remove(path); // QTemporaryDir cannot see such a name

        // Not a MIDI file at all: still a title, and no words.
        const std::string broken = dir.filePath("broken.kar").toStdString();
        SmfWriter::writeBytes(broken, bytesOf("not midi"));
        QVERIFY(!SongText::load(broken, song).playable());
        QCOMPARE(QString::fromStdString(song.title()), "broken");
        QCOMPARE(song.source(), LyricSource::None);
    }

    void aMillionSyllables()
    {
        constexpr int kSyllables = 1000000;
        SmfWriter smf(0, kDivision);
        SmfTrack& track = smf.addTrack();
        for (int i = 0; i < kSyllables; ++i)
            track.text(i == 0 ? 0 : 1, 0x05, i % 8 == 7 ? "la\r" : "la");
        const QByteArray file = image(smf);
        QElapsedTimer clock;
        clock.start();
        const SongText song = parsed(file);
        qInfo("a million syllables read in %lld ms", clock.elapsed());
        QCOMPARE(song.syllableCount(), std::size_t(kSyllables));
        QCOMPARE(song.lines().size(), std::size_t(kSyllables / 8));
        QCOMPARE(song.syllable(kSyllables - 1), "la");
        QCOMPARE(song.lineOf(kSyllables - 1), song.lines().size() - 1);
    }

    void display_data()
    {
        QTest::addColumn<QList<QByteArray>>("messages");
        QTest::addColumn<QString>("letters");
        QTest::addColumn<QStringList>("picture"); // rows of '#' and '.', empty: none sent

        const auto list = [](std::initializer_list<Bytes> messages) {
            QList<QByteArray> out;
            for (const Bytes& m : messages)
                out << QByteArray(reinterpret_cast<const char*>(m.data()), qsizetype(m.size()));
            return out;
        };
        // Roland dots: block b of 16 bytes holds columns 5b..5b+4, the left one in bit 4.
        Bytes gsDots(64, 0);
        gsDots[0] = 0x10; // row 0, column 0
        gsDots[16 + 1] = 0x01; // row 1, column 9
        gsDots[48 + 15] = 0x10; // row 15, column 15
        // Yamaha dots: blocks of seven columns, the left one in bit 6.
        Bytes xgDots(48, 0);
        xgDots[0] = 0x40; // row 0, column 0
        xgDots[16 + 2] = 0x01; // row 2, column 13
        xgDots[32 + 3] = 0x20; // row 3, column 15

        QStringList gsPicture(16, QString(16, '.'));
        gsPicture[0][0] = '#';
        gsPicture[1][9] = '#';
        gsPicture[15][15] = '#';
        QStringList xgPicture(16, QString(16, '.'));
        xgPicture[0][0] = '#';
        xgPicture[2][13] = '#';
        xgPicture[3][15] = '#';

        QTest::newRow("gs letters")
            << list({ roland(0x100000, bytesOf("Hello SC")) }) << "Hello SC" << QStringList {};
        QTest::newRow("gs letters, bad checksum")
            << list({ roland(0x100000, bytesOf("Good")), roland(0x100000, bytesOf("Bad!"), 1) })
            << "Good" << QStringList {};
        QTest::newRow("gs letters at an offset")
            << list({ roland(0x100000, bytesOf("Sound")), roland(0x100006, bytesOf("Canvas")) })
            << "Sound Canvas" << QStringList {};
        QTest::newRow("gs dots") << list({ roland(0x100100, gsDots) }) << "" << gsPicture;
        QTest::newRow("gs dots, bad checksum")
            << list({ roland(0x100100, gsDots, 5) }) << "" << QStringList {};
        QTest::newRow("xg letters")
            << list({ yamaha(0x060000, bytesOf("XG rocks\x01")) }) << "XG rocks " << QStringList {};
        QTest::newRow("xg bitmap") << list({ yamaha(0x070000, xgDots) }) << "" << xgPicture;
        QTest::newRow("other sysex") << list({ Bytes { 0x7E, 0x7F, 0x09, 0x01, 0xF7 },
            roland(0x40007F, { 0x00 }), yamaha(0x000007E, { 0x00 }) })
                                     << "" << QStringList {};
        QTest::newRow("cut short")
            << list({ Bytes { 0x41, 0x10, 0x45, 0x12, 0x10, 0x00 } }) << "" << QStringList {};
    }
    void display()
    {
        QFETCH(QList<QByteArray>, messages);
        QFETCH(QString, letters);
        QFETCH(QStringList, picture);

        // Through a file: each message a second after the last.
        SmfWriter smf(0, kDivision);
        SmfTrack& track = smf.addTrack();
        for (const QByteArray& m : messages)
            track.sysex(1000, Bytes(m.begin(), m.end()));
        track.noteOn(1000, 0, 60, 100).noteOff(100, 0, 60);
        const SongText song = parsed(image(smf));

        QCOMPARE(song.displayAt(999999), nullptr);
        const ModuleDisplay* shown = song.displayAt(int64_t(messages.size()) * 1000000);
        if (letters.isEmpty() && picture.isEmpty()) {
            QCOMPARE(shown, nullptr);
            return;
        }
        QVERIFY(shown != nullptr);
        QCOMPARE(QString::fromStdString(shown->letters), letters);
        QCOMPARE(shown->hasPicture, !picture.isEmpty());
        if (!picture.isEmpty()) {
            QStringList rows;
            for (int r = 0; r < ModuleDisplay::kDots; ++r) {
                QString row;
                for (int c = 0; c < ModuleDisplay::kDots; ++c)
                    row += shown->dot(r, c) ? '#' : '.';
                rows << row;
            }
            QCOMPARE(rows, picture);
        }
    }
};

QTEST_GUILESS_MAIN(TestSongText)
#include "tst_songtext.moc"
