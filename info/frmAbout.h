#pragma once
// The version-information window: icon, title, version, rights notice, the mail and
// web links, and a launcher for the desktop's system-information program.

#include "platform/Registry.h"

#include <QDialog>
#include <QString>

#include <stdexcept>

class QFrame;
class QLabel;
class QPushButton;

class frmAbout : public QDialog {
    Q_OBJECT

public:
    /// A top-level window with no owner; deletes itself when closed. Runs Form_Load.
    frmAbout();

    // Placeholders under the domain reserved for examples, until the project has its
    // own address and page. The captions are exactly what a click hands to the desktop.
    static inline const QString kMailLink = QStringLiteral("mailto:sequora@example.org");
    static inline const QString kWebLink = QStringLiteral("https://sequora.example.org/");

    // Controls in tab order (each also its objectName).
    QPushButton* cmdOK = nullptr;
    QLabel* picIcon = nullptr;
    QPushButton* cmdSysInfo = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* URL = nullptr;
    QLabel* Mail = nullptr;
    QFrame* Line1 = nullptr;

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void Mail_Click();
    void URL_Click();

    /// Starts the system-information program named in the registry, or says that there
    /// is none.
    void StartSysInfo();

    /// A string value whose bytes fill the whole read buffer with no terminating NUL.
    struct ValueTooLong : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    /// Reads value SubKeyRef of key KeyName below KeyRoot into KeyVal: strings as they
    /// are, numbers in decimal, other types leave KeyVal untouched. False (and KeyVal
    /// empty) when the key or value cannot be read. Throws ValueTooLong for a value that
    /// fills the buffer without a NUL. The key is closed on every path.
    static bool GetKeyValue(sequora::platform::HKEY KeyRoot, const QString& KeyName,
                            const QString& SubKeyRef, QString& KeyVal);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    /// The system-information program's path, empty when there is none.
    static QString locateSysInfo();
    QLabel* makeLink(const QString& name, const QString& caption, int left, int top,
                     int width, int height);
};
