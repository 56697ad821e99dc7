#include "player/MprisBridge.h"

#include "player/Form1.h"
#include "player/MprisPlayerAdaptor.h"
#include "player/MprisRootAdaptor.h"

#include <QApplication>
#include <QDBusMessage>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

// One press of a step button moves this far.
constexpr qlonglong kUsPerStep = 1'000'000;

const QString kPlaying = QStringLiteral("Playing");

QString announcedTrackId(const QVariantMap& announced)
{
    return announced.value(QStringLiteral("Metadata"))
        .toMap()
        .value(QStringLiteral("mpris:trackid"))
        .value<QDBusObjectPath>()
        .path();
}

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
    // another track (that shows as new metadata instead).
    for (QPushButton* button : { player.Command9, player.Command11, player.Command12 }) {
        connect(button, &QPushButton::clicked, this, [this] {
            announceSeek(announcedTrackId(m_announced));
            refresh();
        });
    }

    m_announced = m_state.properties();
    m_watch.setInterval(kWatchIntervalMs);
    connect(&m_watch, &QTimer::timeout, this, &MprisBridge::refresh);
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
    m_watch.start();
    return true;
}

bool MprisBridge::offers(QPushButton* Form1::*button) const
{
    // While a message box waits for its OK the panel takes no clicks either; once the
    // window has unloaded, a command would only make a new device.
    return m_player != nullptr && !m_player->unloading() && (m_player->*button)->isEnabled()
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
}

void MprisBridge::announceSeek(const QString& trackBefore)
{
    if (trackBefore != MprisState::kNoTrack && m_state.trackId() == trackBefore)
        emit seeked(m_state.positionUs());
}

void MprisBridge::play()
{
    if (offers(&Form1::Command3))
        m_player->Command3_Click();
    refresh();
}

void MprisBridge::pause()
{
    // The pause button resumes when pressed again; a Pause from the bus only pauses.
    if (offers(&Form1::Command4) && m_state.playbackStatus() == kPlaying)
        m_player->Command4_Click();
    refresh();
}

void MprisBridge::playPause()
{
    if (offers(&Form1::Command3))
        m_player->Command3_Click();
    else if (offers(&Form1::Command4))
        m_player->Command4_Click();
    refresh();
}

void MprisBridge::stop()
{
    if (offers(&Form1::Command8))
        m_player->Command8_Click();
    refresh();
}

void MprisBridge::next()
{
    if (offers(&Form1::Command6))
        m_player->Command6_Click();
    refresh();
}

void MprisBridge::previous()
{
    if (offers(&Form1::Command9)) {
        // Well into a track, previous restarts it: a seek to its start.
        const QString before = m_state.trackId();
        m_player->Command9_Click();
        announceSeek(before);
    }
    refresh();
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
    if (stepBy(steps))
        announceSeek(before);
    refresh();
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
    if (stepBy(steps))
        announceSeek(current);
    refresh();
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
