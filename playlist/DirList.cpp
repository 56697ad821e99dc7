#include "playlist/DirList.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QStyle>

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kIndentPixels = 10;

QString clean(const QString& folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath());
}

bool lies(const QString& path, const QString& root)
{
    if (root == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

QString join(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// Subfolder names, or false when the folder cannot be listed. One level only: a folder
// that links back to an ancestor costs nothing until the user opens it.
bool readFolder(const QString& folder, QStringList& names)
{
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return false;
    QDir dir(folder);
    if (!dir.isReadable())
        return false;
    // A link to a device passes QDir's filter as well: keep only what is a folder once
    // links are followed.
    const QFileInfoList entries
        = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    names.clear();
    for (const QFileInfo& entry : entries) {
        if (entry.isDir())
            names.append(entry.fileName());
    }
    return true;
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

QString DirList::folderOf(const QTreeWidgetItem* item)
{
    return item != nullptr ? item->data(0, kPathRole).toString() : QString();
}

bool DirList::setPath(const QString& folder)
{
    const QString target = clean(folder);
    return open(lies(target, m_root) ? m_root : QStringLiteral("/"), target);
}

bool DirList::open(const QString& root, const QString& folder)
{
    const QString target = clean(folder);
    const QString top = clean(root);
    QStringList subfolders;
    if (!lies(target, top) || !readFolder(target, subfolders))
        return false;
    const bool moved = target != m_path;
    m_root = top;
    m_path = target;
    rebuild(subfolders);
    if (moved)
        emit pathChanged();
    return true;
}

void DirList::rebuild(const QStringList& subfolders)
{
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);

    // Ancestors: the volume root, then each folder on the way down to the open one.
    QStringList chain { m_root };
    const QString rest = m_path.mid(m_root.size());
    for (const QString& part : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        chain.append(join(chain.last(), part));

    setUpdatesEnabled(false);
    clear();
    QTreeWidgetItem* parent = nullptr;
    for (const QString& folder : chain) {
        const QString label = parent == nullptr ? folder : QFileInfo(folder).fileName();
        auto* item = parent == nullptr ? new QTreeWidgetItem(this, { label })
                                       : new QTreeWidgetItem(parent, { label });
        item->setIcon(0, openIcon);
        item->setData(0, kPathRole, folder);
        parent = item;
    }
    QList<QTreeWidgetItem*> children;
    children.reserve(subfolders.size());
    for (const QString& name : subfolders) {
        auto* item = new QTreeWidgetItem({ name });
        item->setIcon(0, closedIcon);
        item->setData(0, kPathRole, join(m_path, name));
        children.append(item);
    }
    parent->addChildren(children);
    expandAll();
    setCurrentItem(parent);
    // Centred: a few ancestors above it, the first subfolders below.
    scrollToItem(parent, QAbstractItemView::PositionAtCenter);
    setUpdatesEnabled(true);
}

void DirList::drawBranches(QPainter*, const QRect&, const QModelIndex&) const { }

void DirList::onActivated(QTreeWidgetItem* item)
{
    const QString folder = folderOf(item);
    if (!folder.isEmpty())
        setPath(folder);
}
