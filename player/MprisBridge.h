#pragma once
// The player on the session bus as an MPRIS2 media player, for media keys and the
// desktop's media controls. A command from the bus runs the event procedure of the
// matching transport button or menu item, and only while that control is enabled, so
// every rule of the panel holds whichever way a command arrives. What it reports is read
// back from the panel and the device.

#include "player/MprisState.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariantMap>

class Form1;
class QAction;
class QPushButton;

class MprisBridge : public QObject {
    Q_OBJECT

public:
    static inline const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.sequora");
    static inline const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
    static inline const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
    /// How often the panel is compared with what was last announced while the monitor
    /// ticks (the player may move on to another track by itself then).
    static constexpr int kWatchIntervalMs = 250;

    explicit MprisBridge(Form1& player, QObject* parent = nullptr);
    ~MprisBridge() override;

    /// Publishes the player on bus under kServiceName. False, with nothing left on the
    /// bus, when the bus is not there or the name is taken.
    bool attach(QDBusConnection bus);

    /// What the Player interface reports.
    const MprisState& state() const { return m_state; }

    // Commands; each does nothing when the panel does not offer it.
    void play();
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    void seek(qlonglong offsetUs);
    void setPosition(const QDBusObjectPath& trackId, qlonglong positionUs);
    /// "None" or "Playlist": continuous play off or on; "Track" counts as "None".
    void setLoopStatus(const QString& status);
    /// Random order on or off.
    void setShuffle(bool on);
    /// The tempo (0.5 to 2.0, as the parts window's 50 to 200 %); 0 pauses, as the
    /// interface asks; anything else out of range changes nothing.
    void setRate(double rate);
    void raise();
    void quit();
    /// Takes the song (or folder of songs) a file: URI names as a new Playlist and plays
    /// it, once the window takes input. False, with why in error and nothing changed,
    /// for another scheme or host, or a path that gives no song.
    bool openUri(const QString& uri, QString* error);
    /// Answers call with an invalid-argument error saying why.
    void replyError(const QDBusMessage& call, const QString& why);

    /// Compares the panel with what was last announced and announces the difference.
    void refresh();

signals:
    /// The Player properties that changed, with their new values.
    void propertiesChanged(const QVariantMap& changed);
    /// The position jumped within the same track.
    void seeked(qlonglong positionUs);

private:
    /// Whether the panel takes a click on that transport button now.
    bool offers(QPushButton* Form1::*button) const;
    /// Whether the window takes a choice of that menu item now.
    bool offersItem(QAction* Form1::*item) const;
    /// Runs a command inside the window's event scope, then announces what changed.
    template <typename Body>
    void command(Body&& body);
    /// Announces what changed, and watches the panel only while the monitor ticks.
    void followPlayer();
    /// Presses a step button up to |steps| times; whether it was pressed at all.
    bool stepBy(int steps);
    void announceSeek(const QString& trackBefore);

    QPointer<Form1> m_player;
    MprisState m_state;
    QDBusConnection m_bus { QString() };
    bool m_attached = false;
    QTimer m_watch;
    QVariantMap m_announced;
    QString m_trackAtPress;
};
