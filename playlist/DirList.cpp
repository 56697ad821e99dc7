#include "playlist/DirList.h"

#include "platform/FileNames.h"

#include <QFile>
#include <QHeaderView>
#include <QStyle>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using sequora::platform::cleanPath;
using sequora::platform::displayName;
using sequora::platform::displayPath;
using sequora::platform::joinPath;
using sequora::platform::kNativeNameRole;
using sequora::platform::liesUnder;

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kIndentPixels = 10;

// A folder once links are followed (a link to a device or a looping link is none).
bool isFolder(int parent, const dirent& entry)
{
    if (entry.d_type == DT_DIR)
        return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
        return false;
    struct stat info { };
    return ::fstatat(parent, entry.d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

DirList::DirList(QWidget* parent)
    : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setIndentation(kIndentPixels);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    connect(this, &QTreeWidget::itemActivated, this, &DirList::onActivated);
}

QString DirList::path() const
{
    return displayPath(m_path);
}

QString DirList::root() const
{
    return displayPath(m_root);
}

QString DirList::folderOf(const QTreeWidgetItem* item)
{
    return item != nullptr ? item->data(0, kPathRole).toString() : QString();
}

QByteArray DirList::nativeFolderOf(const QTreeWidgetItem* item)
{
    return item != nullptr ? item->data(0, kNativeNameRole).toByteArray() : QByteArray();
}

bool DirList::setPath(const QString& folder)
{
    return setNativePath(QFile::encodeName(folder));
}

bool DirList::setNativePath(const QByteArray& folder)
{
    const QByteArray target = cleanPath(folder);
    return openNative(liesUnder(target, m_root) ? m_root : QByteArrayLiteral("/"), target);
}

bool DirList::open(const QString& root, const QString& folder)
{
    return openNative(QFile::encodeName(root), QFile::encodeName(folder));
}

bool DirList::openNative(const QByteArray& root, const QByteArray& folder)
{
    const QByteArray target = cleanPath(folder);
    const QByteArray top = cleanPath(root);
    QList<Subfolder> subfolders;
    if (!liesUnder(target, top) || !readFolder(target, subfolders))
        return false;
    const bool moved = target != m_path;
    m_root = top;
    m_path = target;
    rebuild(subfolders);
    if (moved)
        emit pathChanged();
    return true;
}

void DirList::rebuild(const QList<Subfolder>& subfolders)
{
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);

    // Ancestors: the volume root, then each folder on the way down to the open one.
    QList<Subfolder> chain { { displayPath(m_root), m_root } };
    const QByteArray rest = m_path.mid(m_root.size());
    for (const QByteArray& name : rest.split('/')) {
        if (!name.isEmpty())
            chain.append({ displayName(name), joinPath(chain.last().name, name) });
    }

    setUpdatesEnabled(false);
    clear();
    const auto addRow = [](QTreeWidgetItem* item, const QIcon& icon, const QByteArray& folder) {
        item->setIcon(0, icon);
        item->setData(0, kPathRole, displayPath(folder));
        item->setData(0, kNativeNameRole, folder);
        return item;
    };
    QTreeWidgetItem* parent = nullptr;
    for (const Subfolder& folder : chain) {
        parent = addRow(parent == nullptr ? new QTreeWidgetItem(this, { folder.text })
                                          : new QTreeWidgetItem(parent, { folder.text }),
            openIcon, folder.name);
    }
    QList<QTreeWidgetItem*> children;
    children.reserve(subfolders.size());
    for (const Subfolder& sub : subfolders)
        children.append(
            addRow(new QTreeWidgetItem({ sub.text }), closedIcon, joinPath(m_path, sub.name)));
    parent->addChildren(children);
    expandAll();
    setCurrentItem(parent);
    // Centred: a few ancestors above it, the first subfolders below.
    scrollToItem(parent, QAbstractItemView::PositionAtCenter);
    setUpdatesEnabled(true);
}

// Subfolders, hidden ones left out and sorted by name regardless of case, or false when
// the folder cannot be listed. One level only: a folder that links back to an ancestor
// costs nothing until the user opens it.
bool DirList::readFolder(const QByteArray& folder, QList<Subfolder>& subfolders)
{
    struct stat info { };
    if (::stat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode)
        || ::access(folder.constData(), R_OK | X_OK) != 0)
        return false;
    DIR* dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return false;
    subfolders.clear();
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith('.') && isFolder(::dirfd(dir), *entry))
            subfolders.append({ displayName(name), name });
    }
    ::closedir(dir);
    std::sort(subfolders.begin(), subfolders.end(), [](const Subfolder& a, const Subfolder& b) {
        const int byText = a.text.compare(b.text, Qt::CaseInsensitive);
        return byText != 0 ? byText < 0 : a.name < b.name;
    });
    return true;
}

void DirList::drawBranches(QPainter*, const QRect&, const QModelIndex&) const { }

void DirList::onActivated(QTreeWidgetItem* item)
{
    const QByteArray folder = nativeFolderOf(item);
    if (!folder.isEmpty())
        setNativePath(folder);
}
