#pragma once
// The read-me window: the program's read-me text, fixed at build time, to read,
// scroll and copy from.

#include <QString>
#include <QWidget>

class QPlainTextEdit;

class frmRead : public QWidget {
    Q_OBJECT

public:
    /// A top-level window with no owner; deletes itself when closed.
    frmRead();

    /// The read-me text as shown, with this build's version filled in.
    static QString document();

    QPlainTextEdit* Text1 = nullptr;
};
