#pragma once
// What the program's arguments ask for: `sequora [--enqueue] [FILE | FOLDER | file:URI]...`.
// Files and folders become Playlist entries in the order given, each carrying the exact
// bytes of its path (argv's bytes, a URI's percent-decoded bytes); what names no song is
// set aside with the reason, for the player to say once.

#include "platform/FileNames.h"

#include <QByteArray>
#include <QList>

namespace sequora::platform {

/// An argument that gave no song, and why.
struct SkippedArgument {
    enum class Why {
        Missing, ///< nothing there
        NotSong, ///< a file, but not a MIDI file by its name (or no regular file)
        NoSongs, ///< a folder without MIDI files, or one that cannot be read
        NotLocal, ///< a URI of another scheme or of another host
        UnknownOption,
    };
    QByteArray given; ///< the argument as given (a URI's path once decoded)
    Why why = Why::Missing;
    bool operator==(const SkippedArgument&) const = default;
};

struct StartRequest {
    /// --enqueue: the songs go to the end of the Playlist, and what plays plays on.
    bool enqueue = false;
    QList<NamedPath> entries;
    QList<SkippedArgument> skipped;
};

/// How an argument that may be a URI reads.
enum class UriKind {
    NotUri, ///< a plain path
    Local, ///< a file: URI of this machine
    Foreign, ///< another scheme, another host, or a file: URI that names no path
};
/// Reads text as a URI: for a file: URI of this machine (no host, "localhost" or this
/// host's name), its path, percent-decoded to bytes, query and fragment left out.
UriKind readUri(const QByteArray& text, QByteArray* path = nullptr);

/// Whether a start with args names anything to play (so that a running player should get
/// them): any argument but the options themselves.
bool namesFiles(const QList<QByteArray>& args);

/// Reads args, relative paths taken from folder (absolute, clean): MIDI files (by the
/// file list's patterns) as they are, a folder's MIDI files as the file list shows them
/// (not its subfolders), anything else skipped. "--" ends the options.
StartRequest readArguments(const QList<QByteArray>& args, const QByteArray& folder);

/// The songs at paths (files or folders, absolute) as readArguments takes them, for the
/// paths a drop or a bus call brings.
StartRequest readPaths(const QList<QByteArray>& paths);

} // namespace sequora::platform
