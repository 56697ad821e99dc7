// The parts window of the real program on a private desktop, playing through FluidSynth
// into a private PulseAudio server's null sink, read and pressed as a screen reader's
// user would: opened from the view menu on a GS song it announces itself and names each
// part as the soundfont names its preset; a press on a part's mute silences that part in
// what the sink plays, a second press brings its held chord back at once. The desktop's
// media controls see the tempo as their Rate, both ways, and the length follows it.

#include "DesktopSession.h"
#include "PlayerTestKit.h"
#include "common/PulseSink.h"

using namespace sequora::test;

namespace {

const QString kPlayerCaption = QStringLiteral("Sequora");
const QString kEditorCaption = QStringLiteral("Sequora : リストの編集");
const QString kPartsCaption = QStringLiteral("ﾊﾟｰﾄ");
const char* const kSoundfont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kDeadlineMs = 30000;
// After a mute the voices stop at once; the reverb's tail is let fade this long.
constexpr int kTailMs = 2500;

// A GS song of a minute: an organ chord held on part 1, the only part that sounds; a
// violin chosen on part 2 and the drums on part 10, which play nothing.
void writeSong(const QTemporaryDir& dir)
{
    SmfWriter smf(1, 500);
    smf.addTrack().sysex(0, { 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7 });
    smf.addTrack()
        .programChange(100, 0, 19)
        .controller(0, 0, 7, 127)
        .noteOn(0, 0, 48, 110)
        .noteOn(0, 0, 55, 110)
        .noteOn(0, 0, 60, 110)
        .noteOff(60000, 0, 48)
        .noteOff(0, 0, 55)
        .noteOff(0, 0, 60);
    smf.addTrack().programChange(100, 1, 40).programChange(0, 9, 0);
    smf.writeFile(QFile::encodeName(dir.filePath(QStringLiteral("organ.mid"))).toStdString());
}

} // namespace

class tst_DesktopParts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStringList missing = DesktopSession::missingTools();
        for (const char* tool : { "pulseaudio", "parec" }) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                missing << QLatin1String(tool);
        }
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("not installed: ") + missing.join(QLatin1Char(' '))));
        if (!QFileInfo::exists(DesktopSession::program()) || !QFileInfo::exists(kSoundfont))
            QSKIP("the sequora program or the TimGM6mb soundfont is missing");
        QVERIFY(m_songs.isValid() && m_work.isValid());
        writeSong(m_songs);
        m_pulse = std::make_unique<PulseServer>(m_work.filePath(QStringLiteral("pulse")));
        QVERIFY2(m_pulse->start(), "the private PulseAudio server did not start");
        QVERIFY(m_sink.start(m_pulse->address()));

        const QString why = m_desktop.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QProcessEnvironment sound;
        sound.insert(QStringLiteral("SEQUORA_MIDI_OUT"), QStringLiteral("fluidsynth"));
        sound.insert(QStringLiteral("SEQUORA_AUDIO_DRIVER"), QStringLiteral("pulseaudio"));
        sound.insert(QStringLiteral("SEQUORA_SOUNDFONT"), QLatin1String(kSoundfont));
        sound.insert(QStringLiteral("PULSE_SERVER"), m_pulse->address());
        QVERIFY2(m_desktop.startPlayer(
                     m_songs.path(), m_work.filePath(QStringLiteral("mci.log")), false, sound),
            m_desktop.player().readAllStandardError().constData());
        m_window = m_desktop.window(kPlayerCaption).value();
    }

    void cleanupTestCase()
    {
        m_desktop.stopPlayer();
        m_sink.stop();
    }

    void partsAreNamedMutedAndHeard()
    {
        QVERIFY(press(m_window, QStringLiteral("再生ﾘｽﾄの編集")));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.window(kEditorCaption), kDeadlineMs);
        const Accessible editor = m_desktop.window(kEditorCaption).value();
        QVERIFY(press(editor, QStringLiteral("<- 全て追加(E)")));
        QVERIFY(press(editor, QStringLiteral("OK")));
        QTRY_VERIFY_WITH_TIMEOUT(named(m_window, QStringLiteral("[01]")), kDeadlineMs);
        QVERIFY(press(m_window, QStringLiteral("再生")));
        QVERIFY2(m_sink.heard(kDeadlineMs), "the organ was not heard");

        const std::optional<Accessible> item
            = m_desktop.findNamed(m_window, QStringLiteral("menu item"), QStringLiteral("ﾊﾟｰﾄ(P)"));
        QVERIFY(item);
        QVERIFY(m_desktop.press(*item));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.window(kPartsCaption), kDeadlineMs);
        const Accessible parts = m_desktop.window(kPartsCaption).value();
        QCOMPARE(m_desktop.roleName(parts), QStringLiteral("frame"));
        // As TimGM6mb names the presets the engine chose.
        for (const QString& name : { QStringLiteral("Church Organ"), QStringLiteral("Violin"),
                 QStringLiteral("Standard") })
            QTRY_VERIFY2_WITH_TIMEOUT(named(parts, name), qPrintable(name), kDeadlineMs);

        // Muted, the organ is gone from what the sink plays once its reverb has faded.
        const std::optional<Accessible> mute = named(parts, QStringLiteral("ﾊﾟｰﾄ 1 ﾐｭｰﾄ"));
        QVERIFY(mute);
        QVERIFY(m_desktop.press(*mute));
        QTest::qWait(kTailMs);
        m_sink.skip();
        const int muted = m_sink.loudest(1500);
        QVERIFY2(muted < SinkMonitor::kHeardPeak, qPrintable(QString::number(muted)));
        // Unmuted, the chord it holds is struck again at once.
        QVERIFY(m_desktop.press(*mute));
        QVERIFY2(m_sink.heard(kTailMs), "the organ did not come back");
    }

    void rateIsTheTempoBothWays()
    {
        const qlonglong length = lengthUs();
        QVERIFY(length > 0);
        QVERIFY(setRate(0.5));
        QTRY_COMPARE_WITH_TIMEOUT(rate(), 0.5, kDeadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(lengthUs(), 2 * length, kDeadlineMs);
        // Out of range: nothing changes.
        QVERIFY(setRate(3.0));
        QTest::qWait(200);
        QCOMPARE(rate(), 0.5);

        // The other way: the parts window's reset is the rate's too.
        const Accessible parts = m_desktop.window(kPartsCaption).value();
        QVERIFY(press(parts, QStringLiteral("ﾘｾｯﾄ")));
        QTRY_COMPARE_WITH_TIMEOUT(rate(), 1.0, kDeadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(lengthUs(), length, kDeadlineMs);
    }

private:
    std::optional<Accessible> named(const Accessible& in, const QString& name)
    {
        return m_desktop.find(in, [&](const Accessible& a) { return m_desktop.name(a) == name; });
    }

    bool press(const Accessible& window, const QString& buttonName)
    {
        const std::optional<Accessible> button
            = m_desktop.findNamed(window, QStringLiteral("push button"), buttonName);
        return button && m_desktop.press(*button);
    }

    qlonglong lengthUs()
    {
        return m_desktop.playerctl({ QStringLiteral("metadata"), QStringLiteral("mpris:length") })
            .toLongLong();
    }

    QDBusMessage properties(const QString& method)
    {
        return QDBusMessage::createMethodCall(QStringLiteral("org.mpris.MediaPlayer2.sequora"),
            QStringLiteral("/org/mpris/MediaPlayer2"),
            QStringLiteral("org.freedesktop.DBus.Properties"), method);
    }

    double rate()
    {
        QDBusMessage get = properties(QStringLiteral("Get"));
        get << QStringLiteral("org.mpris.MediaPlayer2.Player") << QStringLiteral("Rate");
        const QDBusMessage reply = m_desktop.session().call(get, QDBus::Block, 5000);
        return reply.arguments().value(0).value<QDBusVariant>().variant().toDouble();
    }

    bool setRate(double rate)
    {
        QDBusMessage set = properties(QStringLiteral("Set"));
        set << QStringLiteral("org.mpris.MediaPlayer2.Player") << QStringLiteral("Rate")
            << QVariant::fromValue(QDBusVariant(rate));
        return m_desktop.session().call(set, QDBus::Block, 5000).type()
            == QDBusMessage::ReplyMessage;
    }

    QTemporaryDir m_songs;
    QTemporaryDir m_work;
    std::unique_ptr<PulseServer> m_pulse;
    SinkMonitor m_sink;
    DesktopSession m_desktop;
    Accessible m_window;
};

QTEST_MAIN(tst_DesktopParts)
#include "tst_desktop_parts.moc"
