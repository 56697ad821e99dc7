#include "playlist/DriveList.h"

#include "platform/FileNames.h"

#include <QFile>
#include <QHash>
#include <QStorageInfo>

#include <algorithm>
#include <mntent.h>
#include <sys/stat.h>

using sequora::platform::cleanPath;
using sequora::platform::displayPath;
using sequora::platform::liesUnder;

namespace {

// Where mounted file systems a user keeps files on appear; everything else mounted
// (/proc, /sys, /run, /boot, container bind mounts) is the system's business.
const QList<QByteArray> kBrowsableParents = { "/home", "/media", "/mnt", "/run/media", "/srv" };

const QList<QByteArray> kPseudoTypes = { "proc", "sysfs", "devtmpfs", "devpts", "tmpfs", "ramfs",
    "cgroup", "cgroup2", "securityfs", "pstore", "debugfs", "tracefs", "configfs", "fusectl",
    "mqueue", "hugetlbfs", "bpf", "binfmt_misc", "autofs", "efivarfs", "rpc_pipefs", "nsfs",
    "squashfs", "overlay", "fuse.gvfsd-fuse", "fuse.portal" };

constexpr const char* kMountTable = "/proc/self/mounts";

bool isBrowsable(const QByteArray& root)
{
    return std::any_of(kBrowsableParents.begin(), kBrowsableParents.end(),
        [&](const QByteArray& parent) { return liesUnder(root, parent); });
}

bool isFolder(const QByteArray& path)
{
    struct stat info { };
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

struct Mount {
    QByteArray root;
    QByteArray type;
};

// The mount table as the system keeps it: getmntent undoes its escapes (\040 for a
// blank) and leaves every other byte as it is.
QList<Mount> mountTable()
{
    QList<Mount> mounts;
    FILE* table = ::setmntent(kMountTable, "r");
    if (table == nullptr)
        return mounts;
    mntent entry {};
    char buffer[4096];
    while (::getmntent_r(table, &entry, buffer, sizeof buffer) != nullptr)
        mounts.append({ QByteArray(entry.mnt_dir), QByteArray(entry.mnt_type) });
    ::endmntent(table);
    return mounts;
}

// Volume labels, by root; Qt knows them for the roots it can name.
QHash<QByteArray, QString> volumeLabels()
{
    QHash<QByteArray, QString> labels;
    for (const QStorageInfo& storage : QStorageInfo::mountedVolumes())
        labels.insert(QFile::encodeName(storage.rootPath()), storage.name());
    return labels;
}

} // namespace

QByteArray DriveList::Volume::nativeRoot() const
{
    return native.isEmpty() ? QFile::encodeName(root) : native;
}

DriveList::DriveList(QWidget* parent)
    : QComboBox(parent)
{
    setVolumes(mountedVolumes());
    connect(this, &QComboBox::activated, this, &DriveList::onActivated);
}

QList<DriveList::Volume> DriveList::mountedVolumes()
{
    const QHash<QByteArray, QString> labels = volumeLabels();
    QList<Volume> result { { QStringLiteral("/"), labels.value("/"), "/" } };
    for (const Mount& mount : mountTable()) {
        if (mount.root == "/" || !isBrowsable(mount.root) || kPseudoTypes.contains(mount.type)
            || !isFolder(mount.root))
            continue;
        const bool listed = std::any_of(
            result.begin(), result.end(), [&](const Volume& v) { return v.native == mount.root; });
        if (!listed)
            result.append({ displayPath(mount.root), labels.value(mount.root), mount.root });
    }
    std::sort(result.begin() + 1, result.end(),
        [](const Volume& a, const Volume& b) { return a.native < b.native; });
    return result;
}

void DriveList::setVolumes(const QList<Volume>& volumes)
{
    const QByteArray selected = nativeDrive();
    m_volumes = volumes;
    QStringList texts;
    for (const Volume& volume : m_volumes)
        texts.append(volume.name.isEmpty()
                ? volume.root
                : QStringLiteral("%1 [%2]").arg(volume.root, volume.name));
    const QSignalBlocker quiet(this);
    clear();
    addItems(texts);
    for (int i = 0; i < m_volumes.size(); ++i)
        setItemData(i, m_volumes[i].nativeRoot(), sequora::platform::kNativeNameRole);
    m_current = indexOfRoot(selected);
    if (m_current < 0 && !m_volumes.isEmpty())
        m_current = 0;
    setCurrentIndex(m_current);
}

QString DriveList::drive() const
{
    return m_current >= 0 && m_current < m_volumes.size() ? m_volumes[m_current].root : QString();
}

QByteArray DriveList::nativeDrive() const
{
    return m_current >= 0 && m_current < m_volumes.size() ? m_volumes[m_current].nativeRoot()
                                                          : QByteArray();
}

QString DriveList::driveOf(const QString& path) const
{
    return displayPath(nativeDriveOf(QFile::encodeName(path)));
}

QByteArray DriveList::nativeDriveOf(const QByteArray& path) const
{
    const QByteArray clean = cleanPath(path);
    QByteArray best = QByteArrayLiteral("/");
    for (const Volume& volume : m_volumes) {
        const QByteArray root = volume.nativeRoot();
        if (liesUnder(clean, root) && root.size() > best.size())
            best = root;
    }
    return best;
}

void DriveList::setDrive(const QString& path)
{
    setNativeDrive(QFile::encodeName(path));
}

void DriveList::setNativeDrive(const QByteArray& path)
{
    const int index = indexOfRoot(nativeDriveOf(path));
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

int DriveList::indexOfRoot(const QByteArray& root) const
{
    for (int i = 0; i < m_volumes.size(); ++i) {
        if (m_volumes[i].nativeRoot() == root)
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
