#include "player/MprisBridge.h"

#include "player/ClickLabel.h"
#include "player/Form1.h"
#include "player/MprisPlayerAdaptor.h"
#include "player/MprisRootAdaptor.h"
#include "player/TimeText.h"
#include "sequencer/clsMIDI.h"

#include <QApplication>
#include <QComboBox>
#include <QDBusMessage>
#include <QFileInfo>
#include <QPushButton>
#include <QUrl>

#include <cmath>
#include <limits>

namespace {

// The device counts tenths of a second; the bus speaks microseconds.
constexpr qlonglong kUsPerUnit = 100'000;
// One press of a step button moves this far.
constexpr qlonglong kUsPerStep = 1'000'000;

const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
const QString kTrackPrefix = QStringLiteral("/org/sequora/track/");
const QString kPlaying = QStringLiteral("Playing");
const QString kPaused = QStringLiteral("Paused");
const QString kStopped = QStringLiteral("Stopped");

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

    m_announced = announcedProperties();
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

bool MprisBridge::loaded() const
{
    // The monitor runs from the first track loaded until the window unloads; outside that
    // time asking the device would create it.
    return m_player != nullptr && m_player->Timer1->isActive();
}

bool MprisBridge::offers(const QPushButton* button) const
{
    // While a message box waits for its OK the panel takes no clicks either.
    return m_player != nullptr && button->isEnabled()
        && QApplication::activeModalWidget() == nullptr;
}

int64_t MprisBridge::positionUnits() const
{
    if (!loaded())
        return 0;
    return sequora::player::unitsFromReply(m_player->device().Position()).value_or(0);
}

QString MprisBridge::trackId() const
{
    if (!loaded())
        return kNoTrack;
    const int index = m_player->Combo1->currentIndex();
    if (m_player->listText(index).isEmpty())
        return kNoTrack;
    return kTrackPrefix + QString::number(index + 1);
}

QString MprisBridge::playbackStatus() const
{
    if (!loaded())
        return kStopped;
    // The device knows best while the editor has withdrawn the buttons.
    const std::string mode = m_player->device().Mode();
    if (mode == "PLAYING")
        return kPlaying;
    if (mode == "PAUSED")
        return kPaused;
    // A track the device could not open has no mode: the buttons say what the player
    // makes of it.
    const bool play = m_player->Command3->isEnabled();
    const bool pause = m_player->Command4->isEnabled();
    if (pause && !play)
        return kPlaying;
    if (pause && play)
        return kPaused;
    return kStopped;
}

QVariantMap MprisBridge::metadata() const
{
    QVariantMap data;
    const QString id = trackId();
    data.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(id)));
    if (id == kNoTrack)
        return data;

    const QString path = m_player->listText(m_player->Combo1->currentIndex());
    data.insert(
        QStringLiteral("xesam:url"), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    data.insert(QStringLiteral("xesam:title"), QFileInfo(path).completeBaseName());
    QString number = m_player->Label7->text();
    number.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    bool isNumber = false;
    const int n = number.toInt(&isNumber);
    if (isNumber && n > 0)
        data.insert(QStringLiteral("xesam:trackNumber"), n);
    const qlonglong length = m_player->device().Length();
    if (length > 0)
        data.insert(QStringLiteral("mpris:length"), length * kUsPerUnit);
    return data;
}

qlonglong MprisBridge::positionUs() const
{
    return positionUnits() * kUsPerUnit;
}

bool MprisBridge::canPlay() const
{
    // Clients read this as "there is a track to play", also while it plays: the panel
    // offers either play or pause for it then.
    return m_player != nullptr
        && (m_player->Command3->isEnabled() || m_player->Command4->isEnabled());
}

bool MprisBridge::canPause() const
{
    return m_player != nullptr && m_player->Command4->isEnabled();
}

bool MprisBridge::canGoNext() const
{
    return m_player != nullptr && m_player->Command6->isEnabled();
}

bool MprisBridge::canGoPrevious() const
{
    return m_player != nullptr && m_player->Command9->isEnabled();
}

bool MprisBridge::canSeek() const
{
    return m_player != nullptr && m_player->Command11->isEnabled()
        && m_player->Command12->isEnabled();
}

QVariantMap MprisBridge::announcedProperties() const
{
    return {
        { QStringLiteral("PlaybackStatus"), playbackStatus() },
        { QStringLiteral("Metadata"), metadata() },
        { QStringLiteral("CanPlay"), canPlay() },
        { QStringLiteral("CanPause"), canPause() },
        { QStringLiteral("CanGoNext"), canGoNext() },
        { QStringLiteral("CanGoPrevious"), canGoPrevious() },
        { QStringLiteral("CanSeek"), canSeek() },
    };
}

void MprisBridge::refresh()
{
    const QVariantMap now = announcedProperties();
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
    if (trackBefore != kNoTrack && trackId() == trackBefore)
        emit seeked(positionUs());
}

void MprisBridge::play()
{
    if (offers(m_player->Command3))
        m_player->Command3_Click();
    refresh();
}

void MprisBridge::pause()
{
    // The pause button resumes when pressed again; a Pause from the bus only pauses.
    if (offers(m_player->Command4) && playbackStatus() == kPlaying)
        m_player->Command4_Click();
    refresh();
}

void MprisBridge::playPause()
{
    if (offers(m_player->Command3))
        m_player->Command3_Click();
    else if (offers(m_player->Command4))
        m_player->Command4_Click();
    refresh();
}

void MprisBridge::stop()
{
    if (offers(m_player->Command8))
        m_player->Command8_Click();
    refresh();
}

void MprisBridge::next()
{
    if (offers(m_player->Command6))
        m_player->Command6_Click();
    refresh();
}

void MprisBridge::previous()
{
    if (offers(m_player->Command9)) {
        // Well into a track, previous restarts it: a seek to its start.
        const QString before = trackId();
        m_player->Command9_Click();
        announceSeek(before);
    }
    refresh();
}

bool MprisBridge::stepBy(int steps)
{
    QPushButton* button = steps > 0 ? m_player->Command12 : m_player->Command11;
    const QString track = trackId();
    int pressed = 0;
    while (pressed < std::abs(steps) && offers(button)) {
        const int64_t before = positionUnits();
        if (steps > 0)
            m_player->Command12_Click();
        else
            m_player->Command11_Click();
        ++pressed;
        // At either end of the track, or once the player has moved on to another one,
        // the rest of the offset has nothing left to move.
        const int64_t after = positionUnits();
        if (trackId() != track || (steps > 0 ? after <= before : after >= before))
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
    const QString before = trackId();
    if (stepBy(steps))
        announceSeek(before);
    refresh();
}

void MprisBridge::setPosition(const QDBusObjectPath& track, qlonglong positionUs)
{
    // A request for a track that is no longer current, or outside this one, is stale.
    const QString current = trackId();
    if (current == kNoTrack || track.path() != current || positionUs < 0)
        return;
    if (positionUs > m_player->device().Length() * kUsPerUnit)
        return;
    const double exact
        = std::round(static_cast<double>(positionUs - this->positionUs()) / kUsPerStep);
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
