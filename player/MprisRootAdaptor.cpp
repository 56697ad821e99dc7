#include "player/MprisRootAdaptor.h"

#include "player/MprisBridge.h"

MprisRootAdaptor::MprisRootAdaptor(MprisBridge* bridge)
    : QDBusAbstractAdaptor(bridge)
    , m_bridge(bridge)
{
}

QString MprisRootAdaptor::identity() const
{
    return QStringLiteral("Sequora");
}

QString MprisRootAdaptor::desktopEntry() const
{
    // The installed desktop file is sequora.desktop.
    return QStringLiteral("sequora");
}

QStringList MprisRootAdaptor::supportedMimeTypes() const
{
    return { QStringLiteral("audio/midi"), QStringLiteral("audio/x-midi") };
}

void MprisRootAdaptor::Raise()
{
    m_bridge->raise();
}

void MprisRootAdaptor::Quit()
{
    m_bridge->quit();
}
