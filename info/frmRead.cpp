#include "info/frmRead.h"

#include "info/AppVersion.h"
#include "info/InfoResources.h"
#include "platform/desktop/Fonts.h"
#include "platform/desktop/Twips.h"

#include <QFile>
#include <QIcon>
#include <QPlainTextEdit>
#include <QScreen>

using sequora::platform::twips;

namespace {

constexpr int kClientWidth = 7095;
constexpr int kClientHeight = 5655;
// A fixed-pitch face keeps the framed header and the right-set contact lines aligned.
constexpr double kTextPoints = 9.0;

const QString kReadmeResource = QStringLiteral(":/readme/readme.txt");
const QString kVersionToken = QStringLiteral("@VERSION@");

QIcon warningIcon()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/info/warning32.xpm"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/info/warning16.xpm"), QSize(16, 16));
    return icon;
}

} // namespace

frmRead::frmRead()
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                           | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    sequora::initInfoResources();
    setObjectName(QStringLiteral("frmRead"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("お読み下さい"));
    setWindowIcon(warningIcon());
    setFixedSize(twips(kClientWidth), twips(kClientHeight));

    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(0, 0, width(), height());
    Text1->setReadOnly(true);
    Text1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Text1->setFont(sequora::platform::gothicFont(kTextPoints));
    Text1->setPlainText(document());

    if (QScreen* where = screen())
        move(where->availableGeometry().center() - rect().center());
}

QString frmRead::document()
{
    sequora::initInfoResources();
    QFile file(kReadmeResource);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    text.replace(kVersionToken, sequora::versionNumbers());
    return text;
}
