// The real program on a private desktop, as its users meet it there: driven by
// playerctl over MPRIS, its windows read and its buttons pressed over AT-SPI as a screen
// reader does. After every command the panel (read over AT-SPI), the device log and the
// status the player reports must agree. The steps run in order on one running player.

#include "DesktopSession.h"
#include "PlayerTestKit.h"

#include <QUrl>

using namespace sequora::test;

namespace {

const QString kPlayerCaption = QStringLiteral("Sequora");
const QString kEditorCaption = QStringLiteral("Sequora : リストの編集");
const QStringList kTransport = { QStringLiteral("再生"), QStringLiteral("一時停止"),
    QStringLiteral("停止"), QStringLiteral("前の曲"), QStringLiteral("巻き戻し"),
    QStringLiteral("早送り"), QStringLiteral("次の曲") };
const QStringList kLoadedOffers = { QStringLiteral("再生"), QStringLiteral("前の曲"),
    QStringLiteral("巻き戻し"), QStringLiteral("早送り"), QStringLiteral("次の曲") };
const QStringList kPlayingOffers
    = { QStringLiteral("一時停止"), QStringLiteral("停止"), QStringLiteral("前の曲"),
          QStringLiteral("巻き戻し"), QStringLiteral("早送り"), QStringLiteral("次の曲") };
const QStringList kPausedOffers = { QStringLiteral("再生"), QStringLiteral("一時停止"),
    QStringLiteral("停止"), QStringLiteral("前の曲"), QStringLiteral("巻き戻し"),
    QStringLiteral("早送り"), QStringLiteral("次の曲") };

constexpr int64_t kSongUnits = 600;
constexpr uint kStateChecked = 4; // AT-SPI state bits
constexpr uint kStateEnabled = 8;

} // namespace

class tst_DesktopPlayer : public QObject {
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
        for (const char* name : { "first song.mid", "second.mid", "third.mid" })
            writeSong(m_songs, QString::fromUtf8(name), kSongUnits);
        m_log = m_work.filePath(QStringLiteral("mci.log"));

        const QString why = m_desktop.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QVERIFY2(m_desktop.startPlayer(m_songs.path(), m_log),
            m_desktop.player().readAllStandardError().constData());

        const std::optional<Accessible> window = m_desktop.window(kPlayerCaption);
        QVERIFY(window);
        m_window = *window;
        for (const QString& spoken : kTransport) {
            const std::optional<Accessible> button
                = m_desktop.findNamed(m_window, QStringLiteral("push button"), spoken);
            QVERIFY2(button, qPrintable(spoken));
            m_buttons.insert(spoken, *button);
        }
        const std::optional<Accessible> label = m_desktop.find(m_window,
            [this](const Accessible& a) { return m_desktop.name(a) == QStringLiteral("[00]"); });
        QVERIFY(label);
        m_trackLabel = *label;
    }

    void commandsWithoutAPlaylistChangeNothing()
    {
        for (const char* command : { "play", "play-pause", "pause", "next", "previous", "stop" })
            m_desktop.playerctl({ QString::fromLatin1(command) });
        m_desktop.playerctl({ QStringLiteral("position"), QStringLiteral("5+") });
        QCOMPARE(status(), QStringLiteral("Stopped"));
        QCOMPARE(offered(), QStringList());
        QCOMPARE(m_desktop.name(m_trackLabel), QStringLiteral("[00]"));
        // Not even a device was made: the log has no line at all.
        QVERIFY(commands().isEmpty());
    }

    void everyWindowIsAnnouncedAsAWindow()
    {
        QCOMPARE(m_desktop.roleName(m_window), QStringLiteral("frame"));

        QVERIFY(press(m_window, QStringLiteral("再生ﾘｽﾄの編集")));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.window(kEditorCaption), 10000);
        QVERIFY(openFromHelpMenu(QStringLiteral("お読み下さい(R)")));
        QVERIFY(openFromHelpMenu(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(A)")));
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop.windows().size(), 4, 10000);

        QMap<QString, QString> roles;
        for (const Accessible& w : m_desktop.windows())
            roles.insert(m_desktop.name(w), m_desktop.roleName(w));
        const QMap<QString, QString> expected = {
            { kPlayerCaption, QStringLiteral("frame") },
            { kEditorCaption, QStringLiteral("frame") },
            { QStringLiteral("お読み下さい"), QStringLiteral("frame") },
            { QStringLiteral("Sequoraのﾊﾞｰｼﾞｮﾝ情報"), QStringLiteral("dialog") },
        };
        QCOMPARE(roles, expected);

        // Each list says what it is, whatever it holds.
        const Accessible editor = m_desktop.window(kEditorCaption).value();
        QStringList lists;
        m_desktop.find(
            editor,
            [&](const Accessible& a) {
                const QString role = m_desktop.roleName(a);
                if (role == QStringLiteral("list") || role == QStringLiteral("tree")
                    || role == QStringLiteral("combo box"))
                    lists << role + QLatin1Char(' ') + m_desktop.spokenName(a);
                return false;
            },
            1);
        QCOMPARE(lists,
            (QStringList { QStringLiteral("list 再生ﾘｽﾄ"), QStringLiteral("combo box ﾄﾞﾗｲﾌﾞ"),
                QStringLiteral("tree ﾌｫﾙﾀﾞ"), QStringLiteral("list ﾌｧｲﾙ") }));
        const std::optional<Accessible> selector
            = m_desktop.find(m_window, [this](const Accessible& a) {
                  return m_desktop.roleName(a) == QStringLiteral("combo box");
              });
        QVERIFY(selector);
        QCOMPARE(m_desktop.spokenName(*selector), QStringLiteral("MIDI:"));

        const Accessible about = m_desktop.window(QStringLiteral("Sequoraのﾊﾞｰｼﾞｮﾝ情報")).value();
        QVERIFY(press(about, QStringLiteral("OK")));
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop.windows().size(), 3, 10000);
    }

    void editorHandsThePlaylistOver()
    {
        // The editor is open: the panel offers nothing, so neither does the bus.
        m_desktop.playerctl({ QStringLiteral("next") });
        m_desktop.playerctl({ QStringLiteral("play") });
        QVERIFY(commands().isEmpty());

        const Accessible editor = m_desktop.window(kEditorCaption).value();
        QVERIFY(press(editor, QStringLiteral("<- 全て追加(E)")));
        QVERIFY(press(editor, QStringLiteral("OK")));
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop.name(m_trackLabel), QStringLiteral("[01]"), 10000);
        QCOMPARE(status(), QStringLiteral("Stopped"));
        QCOMPARE(offered(), kLoadedOffers);
        QCOMPARE(metadata(QStringLiteral("xesam:title")), QStringLiteral("first song"));
        QCOMPARE(metadata(QStringLiteral("xesam:trackNumber")), QStringLiteral("1"));
        QCOMPARE(metadata(QStringLiteral("mpris:length")), QString::number(kSongUnits * 100000));
        QCOMPARE(metadata(QStringLiteral("xesam:url")),
            QUrl::fromLocalFile(m_songs.filePath(QStringLiteral("first song.mid")))
                .toString(QUrl::FullyEncoded));
        QVERIFY(commands().last().endsWith(" type sequencer alias midifile"));
    }

    void transportFromPlayerctl()
    {
        QCOMPARE(step(QStringLiteral("play"), QStringLiteral("Playing"), kPlayingOffers,
                     "play midifile"),
            QString());
        QTest::qWait(1200);
        const double playedFor = position();
        QVERIFY2(playedFor >= 1.0 && playedFor < 5.0, qPrintable(QString::number(playedFor)));

        QCOMPARE(step(QStringLiteral("pause"), QStringLiteral("Paused"), kPausedOffers,
                     "pause midifile "),
            QString());
        const double pausedAt = position();
        QTest::qWait(500);
        QCOMPARE(position(), pausedAt);
        // Pause once more does not resume, though the pause button would.
        m_desktop.playerctl({ QStringLiteral("pause") });
        QCOMPARE(status(), QStringLiteral("Paused"));

        QCOMPARE(step(QStringLiteral("play-pause"), QStringLiteral("Playing"), kPlayingOffers,
                     "play midifile"),
            QString());
        QCOMPARE(step(QStringLiteral("play-pause"), QStringLiteral("Paused"), kPausedOffers,
                     "pause midifile "),
            QString());
        QCOMPARE(step(QStringLiteral("play-pause"), QStringLiteral("Playing"), kPlayingOffers,
                     "play midifile"),
            QString());

        QCOMPARE(step(QStringLiteral("next"), QStringLiteral("Playing"), kPlayingOffers,
                     "play midifile"),
            QString());
        QCOMPARE(m_desktop.name(m_trackLabel), QStringLiteral("[02]"));
        QCOMPARE(metadata(QStringLiteral("xesam:title")), QStringLiteral("second"));

        // Just begun, previous goes back a track.
        QCOMPARE(step(QStringLiteral("previous"), QStringLiteral("Playing"), kPlayingOffers,
                     "play midifile"),
            QString());
        QCOMPARE(m_desktop.name(m_trackLabel), QStringLiteral("[01]"));
        QCOMPARE(metadata(QStringLiteral("xesam:title")), QStringLiteral("first song"));

        // Five steps of the step-forward button, each a pause, a seek and a play.
        const double before = position();
        const qsizetype sent = commands().size();
        m_desktop.playerctl({ QStringLiteral("position"), QStringLiteral("5+") });
        const QList<QByteArray> seekCommands = commands().mid(sent);
        QCOMPARE(seekCommands.count("pause midifile "), 5);
        QCOMPARE(std::count_if(seekCommands.cbegin(), seekCommands.cend(),
                     [](const QByteArray& c) { return c.startsWith("seek midifile to "); }),
            5);
        const double after = position();
        QVERIFY2(after > before + 4.9 && after < before + 6.5,
            qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
        QCOMPARE(status(), QStringLiteral("Playing"));

        QCOMPARE(step(QStringLiteral("stop"), QStringLiteral("Stopped"), kLoadedOffers,
                     " type sequencer alias midifile"),
            QString());
        QCOMPARE(m_desktop.name(m_trackLabel), QStringLiteral("[01]"));
        QCOMPARE(position(), 0.0);
    }

    void playOrderModesBothWays()
    {
        QVERIFY(m_desktop.session().connect(QString(), QStringLiteral("/org/mpris/MediaPlayer2"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
            this, SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
        QCOMPARE(m_desktop.playerctl({ QStringLiteral("loop") }), QStringLiteral("None"));
        QCOMPARE(m_desktop.playerctl({ QStringLiteral("shuffle") }), QStringLiteral("Off"));

        // From the bus: the menu items' own procedures, so the window shows them.
        m_desktop.playerctl({ QStringLiteral("loop"), QStringLiteral("Playlist") });
        QCOMPARE(m_desktop.playerctl({ QStringLiteral("loop") }), QStringLiteral("Playlist"));
        QVERIFY(checked(QStringLiteral("連続再生(C)")));
        m_desktop.playerctl({ QStringLiteral("loop"), QStringLiteral("Track") });
        QCOMPARE(m_desktop.playerctl({ QStringLiteral("loop") }), QStringLiteral("None"));
        QVERIFY(!checked(QStringLiteral("連続再生(C)")));
        m_desktop.playerctl({ QStringLiteral("shuffle"), QStringLiteral("On") });
        QCOMPARE(m_desktop.playerctl({ QStringLiteral("shuffle") }), QStringLiteral("On"));
        QVERIFY(checked(QStringLiteral("ﾗﾝﾀﾞﾑ(R)")));

        // From the window: the desktop hears of it. (Each value here can only come from
        // the press: the last one announced before it was the other.)
        QVERIFY(pressMenuItem(QStringLiteral("連続再生(C)")));
        QTRY_COMPARE_WITH_TIMEOUT(
            m_changes.value(QStringLiteral("LoopStatus")), QVariant(QStringLiteral("Playlist")), 10000);
        QVERIFY(pressMenuItem(QStringLiteral("ﾗﾝﾀﾞﾑ(R)")));
        QTRY_COMPARE_WITH_TIMEOUT(m_changes.value(QStringLiteral("Shuffle")), QVariant(false), 10000);
        QCOMPARE(m_desktop.playerctl({ QStringLiteral("loop") }), QStringLiteral("Playlist"));
        QCOMPARE(m_desktop.playerctl({ QStringLiteral("shuffle") }), QStringLiteral("Off"));

        m_desktop.playerctl({ QStringLiteral("loop"), QStringLiteral("None") });
        QCOMPARE(m_desktop.playerctl({ QStringLiteral("loop") }), QStringLiteral("None"));
        // None of it touched the device.
        QCOMPARE(status(), QStringLiteral("Stopped"));
    }

    void editorOpenWithdrawsCommands()
    {
        QCOMPARE(step(QStringLiteral("play"), QStringLiteral("Playing"), kPlayingOffers,
                     "play midifile"),
            QString());
        QVERIFY(press(m_window, QStringLiteral("再生ﾘｽﾄの編集")));
        QTRY_COMPARE_WITH_TIMEOUT(offered(), QStringList(), 10000);

        const qsizetype sent = commands().size();
        for (const char* command : { "next", "previous", "pause", "stop", "play-pause" })
            m_desktop.playerctl({ QString::fromLatin1(command) });
        m_desktop.playerctl({ QStringLiteral("position"), QStringLiteral("10+") });
        // playerctl itself holds back what the player says it cannot do; straight calls
        // must be refused by the player.
        for (const char* method : { "Next", "Previous", "Pause", "Stop", "PlayPause", "Play" })
            QCOMPARE(callPlayer(QString::fromLatin1(method)).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(callPlayer(QStringLiteral("Seek"), { qlonglong(10'000'000) }).type(),
            QDBusMessage::ReplyMessage);
        // Playback goes on while editing: the player says so and was told nothing.
        QCOMPARE(status(), QStringLiteral("Playing"));
        QCOMPARE(commands().size(), sent);
        QCOMPARE(m_desktop.name(m_trackLabel), QStringLiteral("[01]"));
        // playerctl shows no metadata while nothing can be played; the bus still has it.
        const QDBusMessage get
            = QDBusMessage::createMethodCall(QStringLiteral("org.mpris.MediaPlayer2.sequora"),
                  QStringLiteral("/org/mpris/MediaPlayer2"),
                  QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"))
            << QStringLiteral("org.mpris.MediaPlayer2.Player") << QStringLiteral("Metadata");
        const QVariantMap data = qdbus_cast<QVariantMap>(
            m_desktop.session().call(get).arguments().value(0).value<QDBusVariant>().variant());
        QCOMPARE(
            data.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("first song"));
        QCOMPARE(data.value(QStringLiteral("xesam:trackNumber")).toInt(), 1);
    }

    void quitRunsTheExitItem()
    {
        const QDBusMessage quit
            = QDBusMessage::createMethodCall(QStringLiteral("org.mpris.MediaPlayer2.sequora"),
                QStringLiteral("/org/mpris/MediaPlayer2"), QStringLiteral("org.mpris.MediaPlayer2"),
                QStringLiteral("Quit"));
        QCOMPARE(m_desktop.session().call(quit).type(), QDBusMessage::ReplyMessage);
        QVERIFY(m_desktop.player().waitForFinished(10000));
        QCOMPARE(m_desktop.player().exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_desktop.player().exitCode(), 0);
        // The exit item's procedure: stop and release, then the window's unload does so again.
        const QList<QByteArray> tail = { "stop midifile ", "close midifile", "stop midifile ",
            "stop midifile ", "close midifile" };
        QCOMPARE(commands().mid(commands().size() - tail.size()), tail);
    }

public slots:
    void propertiesChanged(
        const QString& /*interface*/, const QVariantMap& changed, const QStringList& /*invalid*/)
    {
        m_changes.insert(changed);
    }

private:
    bool pressMenuItem(const QString& itemName)
    {
        const std::optional<Accessible> item
            = m_desktop.findNamed(m_window, QStringLiteral("menu item"), itemName);
        return item && m_desktop.press(*item);
    }

    bool checked(const QString& itemName)
    {
        const std::optional<Accessible> item
            = m_desktop.findNamed(m_window, QStringLiteral("menu item"), itemName);
        return item && (m_desktop.states(*item) & (1u << kStateChecked));
    }

    // A transport command from playerctl, and what must follow from it: the reported
    // status, the buttons on offer and the last command the device was given. Empty
    // text when all agree, else what did not.
    QString step(const QString& command, const QString& expectedStatus, const QStringList& offers,
        const QByteArray& lastCommand)
    {
        m_desktop.playerctl({ command });
        const QString reported = status();
        const QStringList onOffer = offered();
        const QByteArray last = commands().value(commands().size() - 1);
        if (reported == expectedStatus && onOffer == offers && last.endsWith(lastCommand))
            return {};
        return QStringLiteral("after %1: status %2, offered %3, last command \"%4\"")
            .arg(command, reported, onOffer.join(QLatin1Char(',')), QString::fromUtf8(last));
    }

    bool press(const Accessible& window, const QString& buttonName)
    {
        const std::optional<Accessible> button
            = m_desktop.findNamed(window, QStringLiteral("push button"), buttonName);
        return button && m_desktop.press(*button);
    }

    bool openFromHelpMenu(const QString& itemName)
    {
        const std::optional<Accessible> item
            = m_desktop.findNamed(m_window, QStringLiteral("menu item"), itemName);
        return item && m_desktop.press(*item);
    }

    QDBusMessage callPlayer(const QString& method, const QVariantList& args = {})
    {
        QDBusMessage call
            = QDBusMessage::createMethodCall(QStringLiteral("org.mpris.MediaPlayer2.sequora"),
                QStringLiteral("/org/mpris/MediaPlayer2"),
                QStringLiteral("org.mpris.MediaPlayer2.Player"), method);
        call.setArguments(args);
        return m_desktop.session().call(call);
    }

    QString status() { return m_desktop.playerctl({ QStringLiteral("status") }); }

    double position() { return m_desktop.playerctl({ QStringLiteral("position") }).toDouble(); }

    QString metadata(const QString& key)
    {
        return m_desktop.playerctl({ QStringLiteral("metadata"), key });
    }

    // The transport buttons the panel offers now, in panel order.
    QStringList offered()
    {
        QStringList out;
        for (const QString& spoken : kTransport) {
            if (m_desktop.states(m_buttons.value(spoken)) & (1u << kStateEnabled))
                out << spoken;
        }
        return out;
    }

    // What the device was told, status queries left out (the monitor asks all the time).
    QList<QByteArray> commands() const
    {
        QFile file(m_log);
        QList<QByteArray> out;
        if (!file.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QByteArray command = line.mid(1, line.indexOf("\"\t") - 1);
            if (!line.isEmpty() && !command.startsWith("status "))
                out << command;
        }
        return out;
    }

    QTemporaryDir m_songs;
    QTemporaryDir m_work;
    QString m_log;
    DesktopSession m_desktop;
    Accessible m_window;
    Accessible m_trackLabel;
    QHash<QString, Accessible> m_buttons;
    QVariantMap m_changes;
};

QTEST_MAIN(tst_DesktopPlayer)
#include "tst_desktop_player.moc"
