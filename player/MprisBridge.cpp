#include "player/MprisBridge.h"

#include "info/SongTextLoader.h"
#include "player/Form1.h"
#include "player/ListenerCommands.h"
#include "player/MprisPlayerAdaptor.h"
#include "player/MprisRootAdaptor.h"

#include <QAction>
#include <QApplication>
#include <QDBusMessage>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

namespace {

// One press of a step button moves this far.
constexpr qlonglong kUsPerStep = 1'000'000;

const QString kPlaying = QStringLiteral("Playing");
// The player repeats the whole Playlist or nothing; a client that asks to repeat the
// one track is told None (see setLoopStatus).
const QString kLoopTrack = QStringLiteral("Track");

} // namespace

MprisBridge::MprisBridge(Form1& player, QObject* parent)
    : QObject(parent)
    , m_player(&player)
    , m_state(player)
{
    new MprisRootAdaptor(this);
    auto* playerInterface = new MprisPlayerAdaptor(this);
    connect(this, &MprisBridge::seeked, playerInterface, &MprisPlayerAdaptor::Seeked);

    // A step or restart clicked on the panel is a seek too, unless it moved on to
    // another track (that shows as new metadata instead). The track is taken as the
    // button goes down: by the click, the window has already announced its outcome.
    for (QPushButton* button : { player.Command9, player.Command11, player.Command12 }) {
        connect(button, &QPushButton::pressed, this,
            [this] { m_trackAtPress = m_state.trackId(); });
        connect(button, &QPushButton::clicked, this, [this] {
            announceSeek(m_trackAtPress);
            refresh();
        });
    }

    m_announced = m_state.properties();
    m_watch.setInterval(kWatchIntervalMs);
    connect(&m_watch, &QTimer::timeout, this, &MprisBridge::followPlayer);
    // Clicks, menu items and the hand-over change the panel only in event procedures,
    // after which the window says so: those changes are announced at once.
    connect(&player, &Form1::caughtUp, this, &MprisBridge::followPlayer);
    // A song's title is read after it loads: announced as it arrives.
    connect(&player.songTexts(), &SongTextLoader::loaded, this, &MprisBridge::refresh);
}

MprisBridge::~MprisBridge()
{
    if (m_attached) {
        m_bus.unregisterService(kServiceName);
        m_bus.unregisterObject(kObjectPath);
    }
}

bool MprisBridge::attach(QDBusConnection bus)
{
    if (m_attached || !bus.isConnected())
        return false;
    if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors))
        return false;
    if (!bus.registerService(kServiceName)) {
        bus.unregisterObject(kObjectPath);
        return false;
    }
    m_bus = bus;
    m_attached = true;
    // Only a published player needs watching; without a bus the device is asked nothing.
    followPlayer();
    return true;
}

void MprisBridge::followPlayer()
{
    refresh();
    if (!m_attached)
        return;
    // Between events only the ticking monitor changes what is reported (it moves on to
    // the next track); while it rests there is nothing to watch.
    if (m_player != nullptr && m_player->Timer1->isActive()) {
        if (!m_watch.isActive())
            m_watch.start();
    } else {
        m_watch.stop();
    }
}

template <typename Body>
void MprisBridge::command(Body&& body)
{
    // A command from the bus is an event procedure like a click: the window's monitor
    // catches up with it.
    if (m_player != nullptr)
        m_player->dispatch(std::forward<Body>(body));
    refresh();
}

bool MprisBridge::offers(QPushButton* Form1::*button) const
{
    // While a message box waits for its OK the panel takes no clicks either; once the
    // window has unloaded, a command would only make a new device.
    return m_player != nullptr && !m_player->unloading() && (m_player->*button)->isEnabled()
        && QApplication::activeModalWidget() == nullptr;
}

bool MprisBridge::offersItem(QAction* Form1::*item) const
{
    return m_player != nullptr && !m_player->unloading() && (m_player->*item)->isEnabled()
        && QApplication::activeModalWidget() == nullptr;
}

void MprisBridge::refresh()
{
    const QVariantMap now = m_state.properties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_announced = now;
    if (changed.isEmpty())
        return;
    emit propertiesChanged(changed);
    if (m_attached) {
        QDBusMessage signal = QDBusMessage::createSignal(kObjectPath,
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
        signal << kPlayerInterface << changed << QStringList();
        m_bus.send(signal);
    }
    // A new tempo moves the position with the time it is told in, whoever changed it.
    if (changed.contains(QStringLiteral("Rate")) && m_state.trackId() != MprisState::kNoTrack)
        emit seeked(m_state.positionUs());
}

void MprisBridge::announceSeek(const QString& trackBefore)
{
    if (trackBefore != MprisState::kNoTrack && m_state.trackId() == trackBefore)
        emit seeked(m_state.positionUs());
}

void MprisBridge::play()
{
    command([this] {
        if (offers(&Form1::Command3))
            m_player->Command3_Click();
    });
}

void MprisBridge::pause()
{
    // The pause button resumes when pressed again; a Pause from the bus only pauses.
    command([this] {
        if (offers(&Form1::Command4) && m_state.playbackStatus() == kPlaying)
            m_player->Command4_Click();
    });
}

void MprisBridge::playPause()
{
    command([this] {
        if (offers(&Form1::Command3))
            m_player->Command3_Click();
        else if (offers(&Form1::Command4))
            m_player->Command4_Click();
    });
}

void MprisBridge::stop()
{
    command([this] {
        if (offers(&Form1::Command8))
            m_player->Command8_Click();
    });
}

void MprisBridge::next()
{
    command([this] {
        if (offers(&Form1::Command6))
            m_player->Command6_Click();
    });
}

void MprisBridge::previous()
{
    command([this] {
        if (offers(&Form1::Command9)) {
            // Well into a track, previous restarts it: a seek to its start.
            const QString before = m_state.trackId();
            m_player->Command9_Click();
            announceSeek(before);
        }
    });
}

void MprisBridge::setLoopStatus(const QString& status)
{
    // Track would repeat the one song, which the player cannot do. Taken as None, a
    // desktop's repeat switch that cycles None, Playlist, Track works as the on and off
    // switch the player has; refusing it would leave such a switch stuck on Playlist.
    bool on = false;
    if (status == MprisState::kLoopPlaylist)
        on = true;
    else if (status != MprisState::kLoopNone && status != kLoopTrack)
        return;
    command([this, on] {
        if (offersItem(&Form1::mnuRenPlay) && m_player->mnuRenPlay->isChecked() != on)
            m_player->mnuRenPlay_Click();
    });
}

void MprisBridge::setShuffle(bool on)
{
    command([this, on] {
        if (offersItem(&Form1::mnuRandPlay) && m_player->mnuRandPlay->isChecked() != on)
            m_player->mnuRandPlay_Click();
    });
}

void MprisBridge::setRate(double rate)
{
    if (rate == 0.0) {
        pause();
        return;
    }
    if (!(rate >= MprisState::kMinimumRate && rate <= MprisState::kMaximumRate))
        return;
    if (m_player == nullptr || m_player->unloading() || QApplication::activeModalWidget() != nullptr)
        return;
    const int percent = static_cast<int>(std::lround(rate * 100.0));
    command([&] {
        if (percent != sequora::player::listenerSettings().tempoPercent)
            sequora::player::setTempo(percent);
    });
}

bool MprisBridge::stepBy(int steps)
{
    QPushButton* Form1::*button = steps > 0 ? &Form1::Command12 : &Form1::Command11;
    const QString track = m_state.trackId();
    int pressed = 0;
    while (pressed < std::abs(steps) && offers(button)) {
        const int64_t before = m_state.positionUnits();
        if (steps > 0)
            m_player->Command12_Click();
        else
            m_player->Command11_Click();
        ++pressed;
        // At either end of the track, or once the player has moved on to another one,
        // the rest of the offset has nothing left to move.
        const int64_t after = m_state.positionUnits();
        if (m_state.trackId() != track || (steps > 0 ? after <= before : after >= before))
            break;
    }
    return pressed > 0;
}

void MprisBridge::seek(qlonglong offsetUs)
{
    if (offsetUs == 0 || m_player == nullptr)
        return;
    // Whole steps, and at least one: a short nudge still moves.
    const double exact = std::round(static_cast<double>(offsetUs) / kUsPerStep);
    const double limit = std::numeric_limits<int>::max();
    int steps = static_cast<int>(std::clamp(exact, -limit, limit));
    if (steps == 0)
        steps = offsetUs > 0 ? 1 : -1;
    const QString before = m_state.trackId();
    command([&] {
        if (stepBy(steps))
            announceSeek(before);
    });
}

void MprisBridge::setPosition(const QDBusObjectPath& track, qlonglong positionUs)
{
    // A request for a track that is no longer current, or outside this one, is stale.
    const QString current = m_state.trackId();
    if (current == MprisState::kNoTrack || track.path() != current || positionUs < 0)
        return;
    if (positionUs > m_state.lengthUs())
        return;
    const double exact
        = std::round(static_cast<double>(positionUs - m_state.positionUs()) / kUsPerStep);
    const int steps = static_cast<int>(exact);
    if (steps == 0)
        return;
    command([&] {
        if (stepBy(steps))
            announceSeek(current);
    });
}

void MprisBridge::raise()
{
    if (m_player == nullptr)
        return;
    if (m_player->isMinimized())
        m_player->showNormal();
    m_player->show();
    m_player->raise();
    m_player->activateWindow();
}

void MprisBridge::quit()
{
    if (m_player == nullptr || QApplication::activeModalWidget() != nullptr)
        return;
    // After the reply has gone out: the exit ends the program.
    QTimer::singleShot(0, m_player.data(), [player = m_player] {
        if (player != nullptr)
            player->mnuFileExit_Click();
    });
}

bool MprisBridge::openUri(const QString& uri, QString* error)
{
    using sequora::platform::SkippedArgument;
    using sequora::platform::UriKind;
    if (m_player == nullptr || m_player->unloading()) {
        *error = QStringLiteral("the player is closing");
        return false;
    }
    QByteArray path;
    if (sequora::platform::readUri(uri.toUtf8(), &path) != UriKind::Local) {
        *error = QStringLiteral("not a file: URI of this machine: ") + uri;
        return false;
    }
    const sequora::platform::StartRequest request = sequora::platform::readPaths({ path });
    if (request.entries.isEmpty()) {
        const bool missing = !request.skipped.isEmpty()
            && request.skipped.first().why == SkippedArgument::Why::Missing;
        *error = (missing ? QStringLiteral("no such file: ")
                          : QStringLiteral("not a MIDI file or a folder of them: "))
            + uri;
        return false;
    }
    // After the reply, as a click would come: the window may be busy with a box.
    QTimer::singleShot(0, m_player.data(), [player = m_player, request] {
        if (player != nullptr)
            player->openSongs(request, Form1::SongSource::Other);
    });
    return true;
}

void MprisBridge::replyError(const QDBusMessage& call, const QString& why)
{
    const QDBusConnection bus = m_attached ? m_bus : QDBusConnection::sessionBus();
    bus.send(call.createErrorReply(QDBusError::InvalidArgs, why));
}
