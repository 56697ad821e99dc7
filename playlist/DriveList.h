#pragma once
// The drive list: the mounted volumes that hold the user's files, each shown by its root
// path and name. Its value (Drive) is the root path of the selected volume. Roots come
// from the mount table's own bytes, so a mount point in any code page is listed.

#include <QByteArray>
#include <QComboBox>
#include <QList>
#include <QString>

class DriveList : public QComboBox {
    Q_OBJECT

public:
    struct Volume {
        QString root; ///< "/", "/home", "/media/usb", ... as shown
        QString name; ///< label or device; may be empty
        QByteArray native = {}; ///< root's bytes; empty: root in the file system's encoding

        QByteArray nativeRoot() const;
    };

    explicit DriveList(QWidget* parent = nullptr);

    /// The volumes a user would browse: "/" first, then every mounted file system under
    /// /home, /media, /mnt, /run/media or /srv, pseudo file systems left out.
    static QList<Volume> mountedVolumes();
    /// Replaces the listed volumes (tests list their own). Keeps the selection if its
    /// root is still listed; emits no change.
    void setVolumes(const QList<Volume>& volumes);
    QList<Volume> volumes() const { return m_volumes; }

    /// The root path of the selected volume.
    QString drive() const;
    QByteArray nativeDrive() const;
    /// Selects the listed volume that holds path (the longest root it lies under).
    /// Emits driveChanged when the selection moves, as a user's choice does.
    void setDrive(const QString& path);
    void setNativeDrive(const QByteArray& path);
    /// The root of the listed volume that holds path; "/" when none is listed.
    QString driveOf(const QString& path) const;
    QByteArray nativeDriveOf(const QByteArray& path) const;

signals:
    void driveChanged();

private:
    int indexOfRoot(const QByteArray& root) const;
    void onActivated(int index);

    QList<Volume> m_volumes;
    int m_current = -1;
};
