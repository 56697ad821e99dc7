#pragma once
// What the playlist editor sees of the window whose Playlist it edits: the Playlist it
// copies in, and the hand-over of the edited one on OK. The editor needs nothing else of
// that window, and knows no more of it.

#include "platform/FileNames.h"

#include <QList>

class QWidget;

class PlaylistHolder {
public:
    /// The window that holds the Playlist (the editor opens over its screen, and closes
    /// for good when it goes).
    virtual QWidget& playlistWindow() = 0;
    /// The Playlist now, entry by entry with the bytes each carries.
    virtual QList<sequora::platform::NamedPath> playlistEntries() const = 0;
    /// Takes entries over as the new Playlist and selects its first entry.
    virtual void takePlaylist(const QList<sequora::platform::NamedPath>& entries) = 0;

protected:
    ~PlaylistHolder() = default;
};
