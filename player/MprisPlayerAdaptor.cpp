#include "player/MprisPlayerAdaptor.h"

#include "player/MprisBridge.h"

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisBridge* bridge)
    : QDBusAbstractAdaptor(bridge)
    , m_bridge(bridge)
{
}

QString MprisPlayerAdaptor::playbackStatus() const
{
    return m_bridge->state().playbackStatus();
}

double MprisPlayerAdaptor::rate() const
{
    return m_bridge->state().rate();
}

void MprisPlayerAdaptor::setRate(double rate)
{
    m_bridge->setRate(rate);
}

double MprisPlayerAdaptor::minimumRate() const
{
    return MprisState::kMinimumRate;
}

double MprisPlayerAdaptor::maximumRate() const
{
    return MprisState::kMaximumRate;
}

QVariantMap MprisPlayerAdaptor::metadata() const
{
    return m_bridge->state().metadata();
}

qlonglong MprisPlayerAdaptor::position() const
{
    return m_bridge->state().positionUs();
}

bool MprisPlayerAdaptor::canGoNext() const
{
    return m_bridge->state().canGoNext();
}

bool MprisPlayerAdaptor::canGoPrevious() const
{
    return m_bridge->state().canGoPrevious();
}

bool MprisPlayerAdaptor::canPlay() const
{
    return m_bridge->state().canPlay();
}

bool MprisPlayerAdaptor::canPause() const
{
    return m_bridge->state().canPause();
}

bool MprisPlayerAdaptor::canSeek() const
{
    return m_bridge->state().canSeek();
}

QString MprisPlayerAdaptor::loopStatus() const
{
    return m_bridge->state().loopStatus();
}

void MprisPlayerAdaptor::setLoopStatus(const QString& status)
{
    m_bridge->setLoopStatus(status);
}

bool MprisPlayerAdaptor::shuffle() const
{
    return m_bridge->state().shuffle();
}

void MprisPlayerAdaptor::setShuffle(bool on)
{
    m_bridge->setShuffle(on);
}

void MprisPlayerAdaptor::Next()
{
    m_bridge->next();
}

void MprisPlayerAdaptor::Previous()
{
    m_bridge->previous();
}

void MprisPlayerAdaptor::Pause()
{
    m_bridge->pause();
}

void MprisPlayerAdaptor::PlayPause()
{
    m_bridge->playPause();
}

void MprisPlayerAdaptor::Stop()
{
    m_bridge->stop();
}

void MprisPlayerAdaptor::Play()
{
    m_bridge->play();
}

void MprisPlayerAdaptor::Seek(qlonglong Offset)
{
    m_bridge->seek(Offset);
}

void MprisPlayerAdaptor::SetPosition(const QDBusObjectPath& TrackId, qlonglong Position)
{
    m_bridge->setPosition(TrackId, Position);
}

void MprisPlayerAdaptor::OpenUri(const QString& Uri, const QDBusMessage& message)
{
    QString error;
    if (m_bridge->openUri(Uri, &error))
        return;
    message.setDelayedReply(true);
    m_bridge->replyError(message, error);
}
