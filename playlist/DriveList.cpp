#include "playlist/DriveList.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace {

// Where mounted file systems a user keeps files on appear; everything else mounted
// (/proc, /sys, /run, /boot, container bind mounts) is the system's business.
const QStringList kBrowsableParents = { "/home", "/media", "/mnt", "/run/media", "/srv" };

const QStringList kPseudoTypes = { "proc", "sysfs", "devtmpfs", "devpts", "tmpfs", "ramfs",
    "cgroup", "cgroup2", "securityfs", "pstore", "debugfs", "tracefs", "configfs", "fusectl",
    "mqueue", "hugetlbfs", "bpf", "binfmt_misc", "autofs", "efivarfs", "rpc_pipefs", "nsfs",
    "squashfs", "overlay", "fuse.gvfsd-fuse", "fuse.portal" };

bool isUnder(const QString& path, const QString& root)
{
    if (root == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

bool isBrowsable(const QString& root)
{
    return std::any_of(kBrowsableParents.begin(), kBrowsableParents.end(),
        [&](const QString& parent) { return isUnder(root, parent); });
}

} // namespace

DriveList::DriveList(QWidget* parent)
    : QComboBox(parent)
{
    setVolumes(mountedVolumes());
    connect(this, &QComboBox::activated, this, &DriveList::onActivated);
}

QList<DriveList::Volume> DriveList::mountedVolumes()
{
    QList<Volume> result { { QStringLiteral("/"), QString() } };
    for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
        const QString root = storage.rootPath();
        if (root == QLatin1String("/")) {
            result.first().name = storage.name();
            continue;
        }
        if (!storage.isValid() || !isBrowsable(root) || !QFileInfo(root).isDir()
            || kPseudoTypes.contains(QString::fromLatin1(storage.fileSystemType())))
            continue;
        const bool listed = std::any_of(
            result.begin(), result.end(), [&](const Volume& v) { return v.root == root; });
        if (!listed)
            result.append({ root, storage.name() });
    }
    std::sort(result.begin() + 1, result.end(),
        [](const Volume& a, const Volume& b) { return a.root < b.root; });
    return result;
}

void DriveList::setVolumes(const QList<Volume>& volumes)
{
    const QString selected = drive();
    m_volumes = volumes;
    QStringList texts;
    for (const Volume& volume : m_volumes)
        texts.append(volume.name.isEmpty()
                ? volume.root
                : QStringLiteral("%1 [%2]").arg(volume.root, volume.name));
    const QSignalBlocker quiet(this);
    clear();
    addItems(texts);
    m_current = indexOfRoot(selected);
    if (m_current < 0 && !m_volumes.isEmpty())
        m_current = 0;
    setCurrentIndex(m_current);
}

QString DriveList::drive() const
{
    return m_current >= 0 && m_current < m_volumes.size() ? m_volumes[m_current].root : QString();
}

QString DriveList::driveOf(const QString& path) const
{
    const QString clean = QDir::cleanPath(path);
    QString best = QStringLiteral("/");
    for (const Volume& volume : m_volumes) {
        if (isUnder(clean, volume.root) && volume.root.size() > best.size())
            best = volume.root;
    }
    return best;
}

void DriveList::setDrive(const QString& path)
{
    const int index = indexOfRoot(driveOf(path));
    if (index < 0)
        return;
    {
        const QSignalBlocker quiet(this);
        setCurrentIndex(index);
    }
    if (index != m_current) {
        m_current = index;
        emit driveChanged();
    }
}

int DriveList::indexOfRoot(const QString& root) const
{
    for (int i = 0; i < m_volumes.size(); ++i) {
        if (m_volumes[i].root == root)
            return i;
    }
    return -1;
}

void DriveList::onActivated(int index)
{
    if (index == m_current || index < 0 || index >= m_volumes.size())
        return;
    m_current = index;
    emit driveChanged();
}
