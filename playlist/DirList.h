#pragma once
// The folder list: one volume's folder tree opened at a folder. It shows the open
// folder's ancestors from the volume root down, then the open folder's subfolders;
// activating one (double click or Enter) opens it. Path is the open folder's full path.
// Folders are read with their names' own bytes: a name in any code page is listed (shown
// decoded) and opens.

#include <QByteArray>
#include <QString>
#include <QTreeWidget>

class DirList : public QTreeWidget {
    Q_OBJECT

public:
    explicit DirList(QWidget* parent = nullptr);

    /// The open folder as the user sees it.
    QString path() const;
    QByteArray nativePath() const { return m_path; }
    /// The root of the volume whose tree is shown.
    QString root() const;
    QByteArray nativeRoot() const { return m_root; }

    /// Opens folder within the tree shown; a folder outside it shows the whole tree from
    /// "/". False, with nothing changed, when the folder cannot be read.
    bool setPath(const QString& folder);
    bool setNativePath(const QByteArray& folder);
    /// Shows the tree of the volume at root, opened at folder (which lies under root).
    /// False, with nothing changed, when the folder cannot be read.
    bool open(const QString& root, const QString& folder);
    bool openNative(const QByteArray& root, const QByteArray& folder);

    /// Full path of the folder shown in row item (any row: ancestor or subfolder), as
    /// shown and byte for byte.
    static QString folderOf(const QTreeWidgetItem* item);
    static QByteArray nativeFolderOf(const QTreeWidgetItem* item);

signals:
    /// The open folder changed.
    void pathChanged();

protected:
    /// No expand arrows: every folder shown is open or openable by activation alone.
    void drawBranches(
        QPainter* painter, const QRect& rect, const QModelIndex& index) const override;

private:
    struct Subfolder {
        QString text;
        QByteArray name;
    };
    static bool readFolder(const QByteArray& folder, QList<Subfolder>& subfolders);
    void rebuild(const QList<Subfolder>& subfolders);
    void onActivated(QTreeWidgetItem* item);

    QByteArray m_root = QByteArrayLiteral("/");
    QByteArray m_path = QByteArrayLiteral("/");
};
