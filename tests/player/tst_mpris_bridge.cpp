// The MPRIS bridge in the player's own process, on the engine's manual clock: seeks made
// of step-button presses, what is announced and when, and commands held back while the
// panel could not take them either. The real program under a real client is
// tst_desktop_player.

#include "PlayerTestKit.h"

#include "player/ListenerCommands.h"
#include "player/MprisBridge.h"

#include <QDBusObjectPath>
#include <QDialog>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

using namespace sequora::test;

namespace {

constexpr int64_t kSongUnits = 600;
const QDBusObjectPath kFirstTrack(QStringLiteral("/org/sequora/track/1"));

} // namespace

class tst_MprisBridge : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = logInto(m_dir);
        m_songs = { writeSong(m_dir, QStringLiteral("one.take 2.mid"), kSongUnits),
            writeSong(m_dir, QStringLiteral("two.mid"), kSongUnits) };
    }

    void init()
    {
        QFile::remove(m_log);
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
        m_bridge = std::make_unique<MprisBridge>(*m_form);
    }

    void cleanup()
    {
        m_bridge.reset();
        m_form.reset();
        // The engine keeps the listener's tempo from song to song, so from test to test.
        sequora::midi::engine::sequencer().setListening({});
    }

    void nothingLoadedAsksTheDeviceNothing()
    {
        QVERIFY(!m_bridge->attach(QDBusConnection(QStringLiteral("no such bus"))));
        m_bridge->refresh();
        QCOMPARE(m_bridge->state().playbackStatus(), QStringLiteral("Stopped"));
        QCOMPARE(
            m_bridge->state().metadata().value("mpris:trackid").value<QDBusObjectPath>().path(),
            QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));
        m_bridge->setPosition(
            QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack")), 0);
        m_bridge->play();
        m_bridge->seek(5'000'000);
        // Asking would have created the device, and the log would show it.
        QVERIFY(!QFile::exists(m_log));
    }

    void metadataOfTheLoadedEntry()
    {
        setPlaylist(*m_form, m_songs);
        const QVariantMap data = m_bridge->state().metadata();
        QCOMPARE(data.value("mpris:trackid").value<QDBusObjectPath>(), kFirstTrack);
        QCOMPARE(data.value("xesam:title").toString(), QStringLiteral("one.take 2"));
        QCOMPARE(data.value("xesam:url").toString(),
            QStringLiteral("file://") + QFileInfo(m_dir.path()).canonicalFilePath()
                + QStringLiteral("/one.take%202.mid"));
        QCOMPARE(data.value("xesam:trackNumber").toInt(), 1);
        QCOMPARE(data.value("mpris:length").toLongLong(), kSongUnits * 100'000);
    }

    void seekPressesTheStepButtons_data()
    {
        QTest::addColumn<qlonglong>("offsetUs");
        QTest::addColumn<int64_t>("position");
        QTest::addColumn<int>("track");
        QTest::addColumn<bool>("seeked");
        QTest::newRow("forward 3 s") << 3'000'000LL << int64_t(130) << 1 << true;
        QTest::newRow("back 2 s") << -2'000'000LL << int64_t(80) << 1 << true;
        QTest::newRow("a nudge is a step") << 300'000LL << int64_t(110) << 1 << true;
        QTest::newRow("back past the start") << -100'000'000LL << int64_t(0) << 1 << true;
        // Past the end the monitor moves on, and the rest is not carried into track 2.
        QTest::newRow("past the end") << 1'000'000'000'000LL << int64_t(0) << 2 << false;
    }
    void seekPressesTheStepButtons()
    {
        QFETCH(qlonglong, offsetUs);
        QFETCH(int64_t, position);
        QFETCH(int, track);
        QFETCH(bool, seeked);
        setPlaylist(*m_form, m_songs);
        m_form->device().Position("100");
        QSignalSpy seeks(m_bridge.get(), &MprisBridge::seeked);

        m_bridge->seek(offsetUs);
        QCOMPARE(sequora::test::track(*m_form), track);
        QCOMPARE(sequora::test::position(*m_form), position);
        QCOMPARE(seeks.size(), seeked ? 1 : 0);
        if (seeked)
            QCOMPARE(seeks.first().first().toLongLong(), position * 100'000);
    }

    void setPositionOnTheCurrentTrackOnly()
    {
        setPlaylist(*m_form, m_songs);
        m_form->device().Position("100");
        m_bridge->setPosition(QDBusObjectPath(QStringLiteral("/org/sequora/track/2")), 0);
        m_bridge->setPosition(kFirstTrack, (kSongUnits + 1) * 100'000);
        m_bridge->setPosition(kFirstTrack, -1);
        QCOMPARE(position(*m_form), int64_t(100));
        // To the nearest whole step.
        m_bridge->setPosition(kFirstTrack, 5'400'000);
        QCOMPARE(position(*m_form), int64_t(50));
    }

    void announcesChangesNotTheClock()
    {
        setPlaylist(*m_form, m_songs);
        m_bridge->refresh();
        QSignalSpy announced(m_bridge.get(), &MprisBridge::propertiesChanged);
        m_bridge->play();
        QCOMPARE(announced.size(), 1);
        const QVariantMap changed = announced.takeFirst().first().toMap();
        QCOMPARE(changed.value("PlaybackStatus").toString(), QStringLiteral("Playing"));
        QCOMPARE(changed.value("CanPause").toBool(), true);
        QVERIFY(!changed.contains("Metadata"));
        QVERIFY(!changed.contains("CanPlay")); // play or pause is on offer throughout

        for (int second = 0; second < 50; ++second) {
            play(*m_form, 1000);
            m_bridge->refresh();
        }
        QCOMPARE(announced.size(), 0);

        // The monitor moves on to track 2: that is news.
        for (int second = 0; second < 15; ++second) {
            play(*m_form, 1000);
            m_bridge->refresh();
        }
        QCOMPARE(announced.size(), 1);
        const QVariantMap next = announced.first().first().toMap();
        QCOMPARE(next.keys(), QStringList { QStringLiteral("Metadata") });
        QCOMPARE(next.value("Metadata").toMap().value("xesam:trackNumber").toInt(), 2);
    }

    void clickedStepsAreSeeksButNotNewTracks()
    {
        setPlaylist(*m_form, m_songs);
        m_bridge->refresh();
        QSignalSpy seeks(m_bridge.get(), &MprisBridge::seeked);
        m_form->Command12->click();
        m_form->Command11->click();
        m_form->Command12->click();
        QCOMPARE(seeks.size(), 3);
        QCOMPARE(seeks.last().first().toLongLong(), 10 * 100'000LL);
        // A step into the last moments ends the track, and the monitor moves on.
        m_form->device().Position("590");
        m_form->Command12->click();
        QCOMPARE(track(*m_form), 2);
        QCOMPARE(seeks.size(), 3);
    }

    void heldWhileAModalBoxIsOpen()
    {
        setPlaylist(*m_form, m_songs);
        QDialog box;
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        QVERIFY(QApplication::activeModalWidget() == &box);
        m_bridge->play();
        m_bridge->next();
        QVERIFY(isLoaded(*m_form));
        QCOMPARE(track(*m_form), 1);
        box.hide();
        m_bridge->play();
        QVERIFY(isPlaying(*m_form));
    }

    void playOrderModesFromTheBus_data()
    {
        QTest::addColumn<bool>("continuousBefore");
        QTest::addColumn<QString>("loopStatus");
        QTest::addColumn<bool>("continuousAfter");
        QTest::newRow("Playlist turns it on") << false << "Playlist" << true;
        QTest::newRow("Playlist again keeps it on") << true << "Playlist" << true;
        QTest::newRow("None turns it off") << true << "None" << false;
        QTest::newRow("None again keeps it off") << false << "None" << false;
        // The player cannot repeat one track: Track is the switch's other state, off.
        QTest::newRow("Track from Playlist turns it off") << true << "Track" << false;
        QTest::newRow("Track from None stays off") << false << "Track" << false;
        QTest::newRow("not a status") << true << "playlist" << true;
    }
    void playOrderModesFromTheBus()
    {
        QFETCH(bool, continuousBefore);
        QFETCH(QString, loopStatus);
        QFETCH(bool, continuousAfter);
        if (continuousBefore)
            m_form->mnuRenPlay_Click();
        m_bridge->refresh();
        QSignalSpy announced(m_bridge.get(), &MprisBridge::propertiesChanged);

        m_bridge->setLoopStatus(loopStatus);
        QCOMPARE(m_form->mnuRenPlay->isChecked(), continuousAfter);
        QCOMPARE(m_form->toolButton("RenPlay")->isChecked(), continuousAfter);
        QCOMPARE(m_bridge->state().loopStatus(),
            QLatin1String(continuousAfter ? "Playlist" : "None"));
        QCOMPARE(announced.size(), continuousBefore != continuousAfter ? 1 : 0);
        if (!announced.isEmpty())
            QCOMPARE(announced.first().first().toMap().keys(), QStringList { "LoopStatus" });

        for (const bool on : { true, true, false, false }) {
            m_bridge->setShuffle(on);
            QCOMPARE(m_form->mnuRandPlay->isChecked(), on);
            QCOMPARE(m_form->toolButton("RandPlay")->isChecked(), on);
            QCOMPARE(m_bridge->state().shuffle(), on);
        }
        // Each change once: shuffle on, then off.
        QCOMPARE(announced.size(), (continuousBefore != continuousAfter ? 1 : 0) + 2);
    }

    void playOrderModesHeldWhileTheWindowCannotTakeThem()
    {
        QDialog box;
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        m_bridge->setLoopStatus(QStringLiteral("Playlist"));
        m_bridge->setShuffle(true);
        QVERIFY(!m_form->mnuRenPlay->isChecked());
        QVERIFY(!m_form->mnuRandPlay->isChecked());
        box.hide();

        m_form->mnuRenPlay->setEnabled(false);
        m_form->mnuRandPlay->setEnabled(false);
        m_bridge->setLoopStatus(QStringLiteral("Playlist"));
        m_bridge->setShuffle(true);
        QVERIFY(!m_form->mnuRenPlay->isChecked());
        QVERIFY(!m_form->mnuRandPlay->isChecked());

        m_form->mnuRenPlay->setEnabled(true);
        m_form->mnuRandPlay->setEnabled(true);
        m_bridge->setLoopStatus(QStringLiteral("Playlist"));
        m_bridge->setShuffle(true);
        QVERIFY(m_form->mnuRenPlay->isChecked());
        QVERIFY(m_form->mnuRandPlay->isChecked());

        m_form->Form_Unload();
        m_bridge->setLoopStatus(QStringLiteral("None"));
        QVERIFY(m_form->mnuRenPlay->isChecked());
    }

    // Switched in the window, the change goes out at once, without waiting for a watch.
    void playOrderSwitchedInTheWindowIsAnnounced_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("menu");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("continuous, menu") << "RenPlay" << true << "LoopStatus" << QVariant("Playlist");
        QTest::newRow("continuous, toolbar") << "RenPlay" << false << "LoopStatus" << QVariant("Playlist");
        QTest::newRow("random, menu") << "RandPlay" << true << "Shuffle" << QVariant(true);
        QTest::newRow("random, toolbar") << "RandPlay" << false << "Shuffle" << QVariant(true);
    }
    void playOrderSwitchedInTheWindowIsAnnounced()
    {
        QFETCH(QString, key);
        QFETCH(bool, menu);
        QFETCH(QString, property);
        QFETCH(QVariant, value);
        setPlaylist(*m_form, m_songs);
        m_bridge->refresh();
        QSignalSpy announced(m_bridge.get(), &MprisBridge::propertiesChanged);
        if (menu)
            (key == "RenPlay" ? m_form->mnuRenPlay : m_form->mnuRandPlay)->trigger();
        else
            m_form->toolButton(key)->trigger();
        QCOMPARE(announced.size(), 1);
        const QVariantMap changed = announced.first().first().toMap();
        QCOMPARE(changed.keys(), QStringList { property });
        QCOMPARE(changed.value(property), value);
    }

    void rateIsTheTempo_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("tempo");
        QTest::newRow("half") << 0.5 << 50;
        QTest::newRow("double") << 2.0 << 200;
        QTest::newRow("a little faster") << 1.25 << 125;
        QTest::newRow("as written") << 1.0 << 100;
        QTest::newRow("below the minimum") << 0.3 << 100;
        QTest::newRow("above the maximum") << 2.5 << 100;
        QTest::newRow("not a number") << std::nan("") << 100;
        QTest::newRow("zero pauses") << 0.0 << 100;
    }
    void rateIsTheTempo()
    {
        QFETCH(double, rate);
        QFETCH(int, tempo);
        setPlaylist(*m_form, m_songs);
        m_bridge->play();
        play(*m_form, 10'000);
        m_bridge->refresh();
        QCOMPARE(m_bridge->state().rate(), 1.0);
        QSignalSpy announced(m_bridge.get(), &MprisBridge::propertiesChanged);
        QSignalSpy seeks(m_bridge.get(), &MprisBridge::seeked);

        m_bridge->setRate(rate);
        QCOMPARE(m_bridge->state().rate(), tempo / 100.0);
        QCOMPARE(m_bridge->state().lengthUs(), kSongUnits * 100'000 * 100 / tempo);
        QCOMPARE(m_bridge->state().positionUs(), 10'000'000LL * 100 / tempo);
        QCOMPARE(logged("set midifile tempo " + QByteArray::number(tempo)), tempo != 100);
        QCOMPARE(seeks.size(), tempo != 100 ? 1 : 0);
        if (tempo != 100) {
            const QVariantMap changed = announced.first().first().toMap();
            QCOMPARE(changed.value("Rate").toDouble(), tempo / 100.0);
            QCOMPARE(changed.value("Metadata").toMap().value("mpris:length").toLongLong(),
                kSongUnits * 100'000 * 100 / tempo);
            QCOMPARE(seeks.first().first().toLongLong(), m_bridge->state().positionUs());
        }
        QCOMPARE(m_bridge->state().playbackStatus(),
            QLatin1String(rate == 0.0 ? "Paused" : "Playing"));
    }

    void aTempoSetInThePlayerIsTheRate()
    {
        setPlaylist(*m_form, m_songs);
        m_bridge->refresh();
        QSignalSpy announced(m_bridge.get(), &MprisBridge::propertiesChanged);
        // As the parts window sends it: a device command inside an event procedure.
        m_form->dispatch([] { sequora::player::setTempo(150); });
        QCOMPARE(announced.size(), 1);
        QCOMPARE(announced.first().first().toMap().value("Rate").toDouble(), 1.5);
        m_form->dispatch([] { sequora::player::resetListening(); });
        QCOMPARE(m_bridge->state().rate(), 1.0);
    }

    void nothingOnceTheWindowHasUnloaded()
    {
        setPlaylist(*m_form, m_songs);
        m_form->Form_Unload();
        const QList<QByteArray> closing = loggedCommands(m_log);
        m_bridge->play();
        m_bridge->next();
        m_bridge->seek(5'000'000);
        QCOMPARE(m_bridge->state().playbackStatus(), QStringLiteral("Stopped"));
        QCOMPARE(loggedCommands(m_log), closing);
    }

private:
    bool logged(const QByteArray& command) const
    {
        return loggedCommands(m_log).contains(command);
    }

    QTemporaryDir m_dir;
    QString m_log;
    QStringList m_songs;
    std::unique_ptr<Form1> m_form;
    std::unique_ptr<MprisBridge> m_bridge;
};

QTEST_MAIN(tst_MprisBridge)
#include "tst_mpris_bridge.moc"
