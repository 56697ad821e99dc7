#pragma once
// The file list: the names of one folder's files that match a pattern ("*.mid"), in any
// letter case, sorted by name; hidden files are left out.

#include "playlist/ListBox.h"

class FileList : public ListBox {
    Q_OBJECT

public:
    explicit FileList(QWidget* parent = nullptr);

    QString path() const { return m_path; }
    /// Shows the matching files of folder (none when it cannot be read).
    void setPath(const QString& folder);
    /// Reads the folder shown again.
    void refresh();

    QString pattern() const { return m_pattern; }
    void setPattern(const QString& pattern);

private:
    QString m_path;
    QString m_pattern = QStringLiteral("*.mid");
};
