#pragma once
// Names on disk as the user sees them and as the system knows them. A name is bytes, and
// often not UTF-8 (a Japanese archive unpacked as it is): the lists show it decoded by the
// one text decoder, keep its exact bytes beside the text, and open the bytes.

#include <QByteArray>
#include <QString>

namespace sequora::platform {

/// Item data role under which a list entry keeps the exact bytes of the name or path its
/// text shows (the folder, file and drive lists, the Playlist and the track selector).
inline constexpr int kNativeNameRole = Qt::UserRole + 16;

/// How a name on disk is shown: decoded by the decoder that titles and lyrics share.
QString displayName(const QByteArray& name);
/// How a path is shown: each of its names decoded on its own, joined by "/".
QString displayPath(const QByteArray& path);

/// The process's current folder, byte for byte.
QByteArray currentFolder();
/// The absolute form of path (from the current folder) without ".", ".." or a doubled or
/// trailing "/": what QDir::cleanPath makes of text, on bytes.
QByteArray cleanPath(const QByteArray& path);
/// Whether path is root or lies under it; both clean.
bool liesUnder(const QByteArray& path, const QByteArray& root);
/// name in folder, one "/" between them.
QByteArray joinPath(const QByteArray& folder, const QByteArray& name);

/// The file a list entry names: the bytes it carries, or, for an entry that carries none
/// (a plain name, a dialog's answer, a test's list), its text in the file system's encoding.
QByteArray entryFile(const QString& text, const QByteArray& native);
/// The bytes an entry showing text must carry to name the file at bytes: none when its
/// text in the file system's encoding is those bytes already, as for every UTF-8 name.
QByteArray bytesToKeep(const QString& text, const QByteArray& bytes);

/// A name or path as a list shows it, with the exact bytes it stands for: the entries of
/// the file lists, the Playlist and the track selector, and what reaches the player from
/// its command line, the session bus or a drop.
struct NamedPath {
    QString text;
    /// The name's exact bytes where the text cannot say them; empty where they are the
    /// text in the file system's encoding.
    QByteArray native;

    /// The name or path on disk, byte for byte.
    QByteArray bytes() const { return entryFile(text, native); }
    /// The entry for the name or path at bytes: shown decoded, its bytes kept.
    static NamedPath fromBytes(const QByteArray& bytes);
    bool operator==(const NamedPath&) const = default;
};

} // namespace sequora::platform
