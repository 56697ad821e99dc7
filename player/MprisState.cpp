#include "player/MprisState.h"

#include "info/SongTextLoader.h"
#include "player/ClickLabel.h"
#include "player/Form1.h"
#include "player/ListenerCommands.h"
#include "player/TimeText.h"
#include "sequencer/clsMIDI.h"

#include <QAction>
#include <QComboBox>
#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QUrl>

namespace {

const QString kTrackPrefix = QStringLiteral("/org/sequora/track/");
const QString kPlaying = QStringLiteral("Playing");
const QString kPaused = QStringLiteral("Paused");
const QString kStopped = QStringLiteral("Stopped");

// The real file's URL: a name that is no UTF-8 (shown decoded in the list) keeps its bytes,
// each percent-encoded.
QString fileUrl(const QByteArray& file)
{
    const QString text = QFile::decodeName(file);
    if (QFile::encodeName(text) == file)
        return QUrl::fromLocalFile(text).toString(QUrl::FullyEncoded);
    return QStringLiteral("file://") + QString::fromLatin1(file.toPercentEncoding("/"));
}

} // namespace

MprisState::MprisState(Form1& player)
    : m_player(&player)
{
}

bool MprisState::loaded() const
{
    return m_player != nullptr && m_player->trackLoaded();
}

int64_t MprisState::positionUnits() const
{
    if (!loaded())
        return 0;
    return sequora::player::unitsFromReply(m_player->device().Position()).value_or(0);
}

QString MprisState::trackId() const
{
    if (!loaded())
        return kNoTrack;
    const int index = m_player->Combo1->currentIndex();
    if (m_player->listText(index).isEmpty())
        return kNoTrack;
    return kTrackPrefix + QString::number(index + 1);
}

QString MprisState::playbackStatus() const
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

QVariantMap MprisState::metadata() const
{
    QVariantMap data;
    const QString id = trackId();
    data.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(id)));
    if (id == kNoTrack)
        return data;

    const int index = m_player->Combo1->currentIndex();
    const QString path = m_player->listText(index);
    data.insert(QStringLiteral("xesam:url"), fileUrl(m_player->entryFile(index)));
    data.insert(QStringLiteral("xesam:title"), title(path));
    QString number = m_player->Label7->text();
    number.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    bool isNumber = false;
    const int n = number.toInt(&isNumber);
    if (isNumber && n > 0)
        data.insert(QStringLiteral("xesam:trackNumber"), n);
    if (const qlonglong length = lengthUs(); length > 0)
        data.insert(QStringLiteral("mpris:length"), length);
    return data;
}

QString MprisState::title(const QString& path) const
{
    // The song's own title once its texts have been read (the bridge announces it
    // then); until then, and for a file that names itself nowhere, its file's name.
    const auto texts = m_player->songTexts().texts(m_player->device().FileName());
    if (texts && !texts->titleFromFileName())
        return QString::fromStdString(texts->title());
    return QFileInfo(path).completeBaseName();
}

qlonglong MprisState::positionUs() const
{
    return positionUnits() * kUsPerUnit;
}

qlonglong MprisState::lengthUs() const
{
    return loaded() ? m_player->device().Length() * kUsPerUnit : 0;
}

bool MprisState::canPlay() const
{
    // Clients read this as "there is a track to play", also while it plays: the panel
    // offers either play or pause for it then.
    return m_player != nullptr
        && (m_player->Command3->isEnabled() || m_player->Command4->isEnabled());
}

bool MprisState::canPause() const
{
    return m_player != nullptr && m_player->Command4->isEnabled();
}

bool MprisState::canGoNext() const
{
    return m_player != nullptr && m_player->Command6->isEnabled();
}

bool MprisState::canGoPrevious() const
{
    return m_player != nullptr && m_player->Command9->isEnabled();
}

bool MprisState::canSeek() const
{
    return m_player != nullptr && m_player->Command11->isEnabled()
        && m_player->Command12->isEnabled();
}

QString MprisState::loopStatus() const
{
    return m_player != nullptr && m_player->mnuRenPlay->isChecked() ? kLoopPlaylist : kLoopNone;
}

bool MprisState::shuffle() const
{
    return m_player != nullptr && m_player->mnuRandPlay->isChecked();
}

double MprisState::rate() const
{
    // The engine holds the tempo from song to song, also while none is loaded.
    return sequora::player::listenerSettings().tempoPercent / 100.0;
}

QVariantMap MprisState::properties() const
{
    return {
        { QStringLiteral("PlaybackStatus"), playbackStatus() },
        { QStringLiteral("Metadata"), metadata() },
        { QStringLiteral("CanPlay"), canPlay() },
        { QStringLiteral("CanPause"), canPause() },
        { QStringLiteral("CanGoNext"), canGoNext() },
        { QStringLiteral("CanGoPrevious"), canGoPrevious() },
        { QStringLiteral("CanSeek"), canSeek() },
        { QStringLiteral("LoopStatus"), loopStatus() },
        { QStringLiteral("Shuffle"), shuffle() },
        { QStringLiteral("Rate"), rate() },
    };
}
