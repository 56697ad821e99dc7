#pragma once
// The player as MPRIS2 describes it, read from the panel and the device: the playback
// status, the loaded entry's metadata, the position, which commands are on offer and the
// play-order modes.

#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <cstdint>

class Form1;

class MprisState {
public:
    static inline const QString kNoTrack
        = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
    /// The loop statuses the player has: continuous play off and on.
    static inline const QString kLoopNone = QStringLiteral("None");
    static inline const QString kLoopPlaylist = QStringLiteral("Playlist");
    /// The device counts tenths of a second; the bus speaks microseconds.
    static constexpr qlonglong kUsPerUnit = 100'000;

    explicit MprisState(Form1& player);

    /// Whether a track has been loaded; before that (and after the window unloads) the
    /// device is asked nothing, since asking would create it.
    bool loaded() const;
    /// The current entry's object path, or kNoTrack.
    QString trackId() const;
    QString playbackStatus() const;
    QVariantMap metadata() const;
    int64_t positionUnits() const;
    qlonglong positionUs() const;
    qlonglong lengthUs() const;
    bool canPlay() const;
    bool canPause() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canSeek() const;
    /// "Playlist" while continuous play is on, else "None".
    QString loopStatus() const;
    /// Whether random order is on.
    bool shuffle() const;
    /// The tempo as a rate: 1.0 as the song is written, 0.5 at half speed.
    double rate() const;
    static constexpr double kMinimumRate = 0.5;
    static constexpr double kMaximumRate = 2.0;

    /// The Player properties whose changes are announced, by their bus names.
    QVariantMap properties() const;

private:
    /// xesam:title: the song's title, else the file's name.
    QString title(const QString& path) const;

    QPointer<Form1> m_player;
};
