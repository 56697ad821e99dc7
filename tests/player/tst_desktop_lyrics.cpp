// The lyrics window of the real program on a private desktop, read as a screen reader
// reads it: a karaoke file with Shift_JIS words is handed over from the editor, the
// window opens from the view menu, announces itself and says the current line; the
// desktop's media controls name the song by its own title.

#include "DesktopSession.h"
#include "PlayerTestKit.h"

using namespace sequora::test;

namespace {

const QString kPlayerCaption = QStringLiteral("Sequora");
const QString kEditorCaption = QStringLiteral("Sequora : リストの編集");
const QString kLyricsCaption = QStringLiteral("歌詞");

// A .kar file in Shift_JIS: the title 春の歌, a line さくら and a line 表の; the
// backslash starting the first line is a paragraph mark, the one in 表 (95 5C) is not.
void writeKaraoke(const QTemporaryDir& dir)
{
    SmfWriter smf(1, 500);
    smf.addTrack().text(0, 0x01, "@KMIDI KARAOKE FILE");
    smf.addTrack()
        .text(0, 0x01, "@LJAPN")
        .text(0, 0x01, "@T\x8F\x74\x82\xCC\x89\xCC")
        .text(500, 0x01, "\\\x82\xB3")
        .text(500, 0x01, "\x82\xAD")
        .text(500, 0x01, "\x82\xE7")
        .text(500, 0x01, "/\x95\x5C")
        .text(500, 0x01, "\x82\xCC");
    smf.addTrack().noteOn(0, 0, 60, 90).noteOff(5000, 0, 60);
    smf.writeFile(QFile::encodeName(dir.filePath(QStringLiteral("karaoke.mid"))).toStdString());
}

} // namespace

class tst_DesktopLyrics : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QStringList missing = DesktopSession::missingTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("not installed: ") + missing.join(QLatin1Char(' '))));
        if (!QFileInfo::exists(DesktopSession::program()))
            QSKIP("the sequora program is not built next to the tests");
        QVERIFY(m_songs.isValid() && m_work.isValid());
        writeKaraoke(m_songs);
        const QString why = m_desktop.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QVERIFY2(m_desktop.startPlayer(m_songs.path(), m_work.filePath(QStringLiteral("mci.log"))),
            m_desktop.player().readAllStandardError().constData());
        m_window = m_desktop.window(kPlayerCaption).value();
    }

    void readsTheCurrentLine()
    {
        QVERIFY(press(m_window, QStringLiteral("再生ﾘｽﾄの編集")));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.window(kEditorCaption), 10000);
        const Accessible editor = m_desktop.window(kEditorCaption).value();
        QVERIFY(press(editor, QStringLiteral("<- 全て追加(E)")));
        QVERIFY(press(editor, QStringLiteral("OK")));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.find(m_window,
                                     [this](const Accessible& a) {
                                         return m_desktop.name(a) == QStringLiteral("[01]");
                                     }),
            10000);

        const std::optional<Accessible> item
            = m_desktop.findNamed(m_window, QStringLiteral("menu item"), QStringLiteral("歌詞(K)"));
        QVERIFY(item);
        QVERIFY(m_desktop.press(*item));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.window(kLyricsCaption), 10000);
        const Accessible lyrics = m_desktop.window(kLyricsCaption).value();
        QCOMPARE(m_desktop.roleName(lyrics), QStringLiteral("frame"));

        // Stopped at the start: the first line, nothing sung yet; then the title.
        const auto shown = [&](const QString& text) {
            return m_desktop
                .find(lyrics, [&](const Accessible& a) { return m_desktop.name(a) == text; })
                .has_value();
        };
        QTRY_VERIFY_WITH_TIMEOUT(shown(QStringLiteral("さくら")), 10000);
        QVERIFY(shown(QStringLiteral("春の歌")));
        QVERIFY(shown(QStringLiteral("表の")));
        QTRY_COMPARE_WITH_TIMEOUT(
            m_desktop.playerctl({ QStringLiteral("metadata"), QStringLiteral("xesam:title") }),
            QStringLiteral("春の歌"), 10000);
    }

private:
    bool press(const Accessible& window, const QString& buttonName)
    {
        const std::optional<Accessible> button
            = m_desktop.findNamed(window, QStringLiteral("push button"), buttonName);
        return button && m_desktop.press(*button);
    }

    QTemporaryDir m_songs;
    QTemporaryDir m_work;
    DesktopSession m_desktop;
    Accessible m_window;
};

QTEST_MAIN(tst_DesktopLyrics)
#include "tst_desktop_lyrics.moc"
