#include "info/frmAbout.h"

#include "info/AppVersion.h"
#include "info/InfoResources.h"
#include "info/ExeURL.h"
#include "platform/Shell.h"
#include "platform/desktop/Fonts.h"
#include "platform/desktop/MessageBox.h"
#include "platform/desktop/Twips.h"

#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>

#include <algorithm>

using namespace sequora::platform;

namespace {

constexpr int kClientWidth = 4935;
constexpr int kClientHeight = 2340;
constexpr int kIconSize = 32;

constexpr double kTitlePoints = 14.25;
constexpr double kLinkPoints = 9.75;
constexpr double kWindowPoints = 9.0;
constexpr int kBoldWeight = 700;
const QColor kLinkColour(0, 0, 255);

const QString kHandCursor = QStringLiteral(":/info/hand.xpm");
constexpr int kHandHotX = 13;
constexpr int kHandHotY = 9;
// Pixels kept clear between a widened link and the buttons to its right.
constexpr int kLinkGap = 4;

// Read and query access, as the system's own about boxes ask for.
constexpr DWORD kKeyAccess = 0x2003F;
constexpr int kValueBufferSize = 1024;

const QString kSysInfoKey1 = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kSysInfoValue1 = QStringLiteral("PATH");
const QString kSysInfoKey2 = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const QString kSysInfoValue2 = QStringLiteral("MSINFO");
const QString kSysInfoProgram = QStringLiteral("MSINFO32.EXE");
const QString kNoSysInfo = QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");

QRect twipRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

// The player's own icon, else whatever icon the application carries.
QIcon applicationIcon()
{
    const QString playerIcon = QStringLiteral(":/icons/sequora-32.png");
    if (QFileInfo::exists(playerIcon))
        return QIcon(playerIcon);
    return QApplication::windowIcon();
}

} // namespace

frmAbout::frmAbout()
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                           | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    sequora::initInfoResources();
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    setFont(pGothicFont(kWindowPoints));
    setFixedSize(twips(kClientWidth), twips(kClientHeight));
    buildControls();

    // Centred on the screen it opens on, not over whichever window happens to be active.
    if (QScreen* where = screen())
        move(where->availableGeometry().center() - rect().center());

    Form_Load();
}

void frmAbout::buildControls()
{
    const QIcon icon = applicationIcon();
    if (!icon.isNull())
        setWindowIcon(icon);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twipRect(3420, 1185, 1310, 345));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

    // A sunken box sized to the 32 x 32 picture.
    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setGeometry(twipRect(240, 240, 540, 540));
    picIcon->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picIcon->setAlignment(Qt::AlignCenter);
    if (!icon.isNull())
        picIcon->setPixmap(icon.pixmap(kIconSize, kIconSize));

    cmdSysInfo = new QPushButton(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setGeometry(twipRect(3420, 1635, 1310, 345));
    cmdSysInfo->setAutoDefault(false);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    lblDisclaimer = new QLabel(QStringLiteral("(C) 2026 Sequora の開発者"), this);
    lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));
    lblDisclaimer->setGeometry(twipRect(240, 1200, 2655, 225));

    lblTitle = new QLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setGeometry(twipRect(1050, 240, 1965, 360));
    lblTitle->setFont(gothicFont(kTitlePoints, kBoldWeight));

    lblVersion = new QLabel(QStringLiteral("ﾊﾞｰｼﾞｮﾝ"), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(twipRect(1050, 600, 1725, 225));

    URL = makeLink(QStringLiteral("URL"), kWebLink, 240, 1920, 2415, 255);
    Mail = makeLink(QStringLiteral("Mail"), kMailLink, 240, 1560, 1815, 255);

    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);
    Line1->setGeometry(0, twips(960) - 1, twips(4920), 2);

    setTabOrder(cmdOK, cmdSysInfo);
    cmdOK->setFocus();
}

QLabel* frmAbout::makeLink(const QString& name, const QString& caption, int left, int top,
                           int width, int height)
{
    auto* label = new QLabel(caption, this);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    QFont font = pGothicFont(kLinkPoints);
    font.setUnderline(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kLinkColour);
    label->setPalette(palette);

    // The address is cut nowhere: the label grows up to the buttons if the face used
    // here sets it wider than its box.
    QRect box = twipRect(left, top, width, height);
    const int roomToButtons = cmdOK->x() - box.left() - kLinkGap;
    const int needed = label->fontMetrics().horizontalAdvance(caption) + label->margin() * 2;
    box.setWidth(std::min(std::max(box.width(), needed), roomToButtons));
    label->setGeometry(box);

    QPixmap hand(kHandCursor);
    label->setCursor(hand.isNull() ? QCursor(Qt::PointingHandCursor)
                                   : QCursor(hand, kHandHotX, kHandHotY));
    label->installEventFilter(this);
    return label;
}

void frmAbout::Form_Load()
{
    setWindowTitle(kAppTitle + QStringLiteral("のﾊﾞｰｼﾞｮﾝ情報"));
    lblVersion->setText(QStringLiteral("ﾊﾞｰｼﾞｮﾝ ") + sequora::versionNumbers());
    lblTitle->setText(kAppTitle);
}

void frmAbout::cmdOK_Click()
{
    close();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

void frmAbout::Mail_Click()
{
    ExeURL::ShellExecuteA(ExeURL::GetDesktopWindow(), QStringLiteral("open"), Mail->text(),
                          QString(), QString(), ExeURL::SW_SHOW);
}

void frmAbout::URL_Click()
{
    ExeURL::ShellExecuteA(ExeURL::GetDesktopWindow(), QStringLiteral("open"), URL->text(),
                          QString(), QString(), ExeURL::SW_SHOW);
}

void frmAbout::StartSysInfo()
{
    // Any failure on the way (keys or file missing, a value too long, the start
    // refused) ends in the same message.
    bool started = false;
    try {
        const QString SysInfoPath = locateSysInfo();
        started = !SysInfoPath.isEmpty() && StartProgram(SysInfoPath);
    } catch (const std::exception&) {
        started = false;
    }
    if (!started)
        MsgBox(kNoSysInfo, this);
}

QString frmAbout::locateSysInfo()
{
    // The first key names the program itself; the second a folder holding it.
    QString SysInfoPath;
    if (GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoKey1, kSysInfoValue1, SysInfoPath))
        return SysInfoPath;
    if (!GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoKey2, kSysInfoValue2, SysInfoPath))
        return {};
    const QString program = SysInfoPath + QLatin1Char('/') + kSysInfoProgram;
    return QFileInfo(program).isFile() ? program : QString();
}

bool frmAbout::GetKeyValue(HKEY KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                           QString& KeyVal)
{
    HKEY hKey = 0;
    // Closes the key however this ends, also after a failed open or a too-long value.
    const auto closeKey = qScopeGuard([&hKey] { RegCloseKey(hKey); });

    if (RegOpenKeyExA(KeyRoot, KeyName.toLocal8Bit().constData(), 0, kKeyAccess, &hKey)
        != ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }

    QByteArray buffer(kValueBufferSize, '\0');
    DWORD size = kValueBufferSize;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(hKey, SubKeyRef.toLocal8Bit().constData(), nullptr, &type,
                         reinterpret_cast<unsigned char*>(buffer.data()), &size)
        != ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }

    const qsizetype end = buffer.indexOf('\0');
    if (end < 0)
        throw ValueTooLong("registry value fills the buffer without a terminator");

    switch (type) {
    case REG_SZ:
        KeyVal = QString::fromLocal8Bit(buffer.left(end));
        break;
    case REG_DWORD: {
        DWORD number = 0;
        for (int i = 0; i < 4; ++i)
            number |= static_cast<DWORD>(static_cast<unsigned char>(buffer[i])) << (8 * i);
        KeyVal = QString::number(number);
        break;
    }
    default:
        break;
    }
    return true;
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && (watched == Mail || watched == URL)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        auto* label = static_cast<QLabel*>(watched);
        if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
            if (watched == Mail)
                Mail_Click();
            else
                URL_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
