#pragma once
// The file list: the names of one folder's files that match a pattern ("*.mid *.kar
// *.rmi"), in any letter case, sorted by name; hidden files are left out. The folder is
// read with its names' own bytes, so a name in any code page is listed (shown decoded),
// and each entry carries its bytes.

#include "playlist/ListBox.h"

#include <QRegularExpression>

class FileList : public ListBox {
    Q_OBJECT

public:
    explicit FileList(QWidget* parent = nullptr);

    /// The folder shown, as the user sees it.
    QString path() const;
    QByteArray nativePath() const { return m_path; }
    /// Shows the matching files of folder (none when it cannot be read).
    void setPath(const QString& folder);
    void setNativePath(const QByteArray& folder);
    /// Reads the folder shown again.
    void refresh();

    /// Blank- or semicolon-separated wildcards.
    QString pattern() const { return m_pattern; }
    void setPattern(const QString& pattern);

private:
    QByteArray m_path;
    QString m_pattern;
    QList<QRegularExpression> m_wildcards;
};
