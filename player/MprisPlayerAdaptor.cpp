#include "player/MprisPlayerAdaptor.h"

#include "player/MprisBridge.h"

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisBridge* bridge)
    : QDBusAbstractAdaptor(bridge)
    , m_bridge(bridge)
{
}

QString MprisPlayerAdaptor::playbackStatus() const
{
    return m_bridge->playbackStatus();
}

QVariantMap MprisPlayerAdaptor::metadata() const
{
    return m_bridge->metadata();
}

qlonglong MprisPlayerAdaptor::position() const
{
    return m_bridge->positionUs();
}

bool MprisPlayerAdaptor::canGoNext() const
{
    return m_bridge->canGoNext();
}

bool MprisPlayerAdaptor::canGoPrevious() const
{
    return m_bridge->canGoPrevious();
}

bool MprisPlayerAdaptor::canPlay() const
{
    return m_bridge->canPlay();
}

bool MprisPlayerAdaptor::canPause() const
{
    return m_bridge->canPause();
}

bool MprisPlayerAdaptor::canSeek() const
{
    return m_bridge->canSeek();
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
