#include "playlist/Form2.h"

#include "platform/FileNames.h"
#include "platform/desktop/Fonts.h"
#include "platform/desktop/Twips.h"
#include "playlist/DirList.h"
#include "playlist/DriveList.h"
#include "playlist/FileList.h"
#include "playlist/ListBox.h"
#include "playlist/ListWS.h"
#include "playlist/PlaylistHolder.h"

#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

using sequora::platform::twips;

namespace {

constexpr int kClientWidth = 9480;
constexpr int kClientHeight = 6525;
constexpr double kFontPoints = 9;
const QStringList kAppIconFiles
    = { QStringLiteral(":/icons/sequora-32.png"), QStringLiteral(":/icons/sequora-64.png") };

// Place and size in twips, as the window is laid out.
void place(QWidget* control, int left, int top, int width, int height)
{
    control->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    // Neither default nor cancel button: Enter and Escape press nothing.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

// The player's icon; the application's own where the pictures are not compiled in.
QIcon appIcon()
{
    QIcon icon;
    for (const QString& file : kAppIconFiles) {
        if (QFile::exists(file))
            icon.addFile(file);
    }
    return icon.isNull() ? QGuiApplication::windowIcon() : icon;
}

// One half of the etched separator: a one-pixel line in a system colour.
QWidget* line(QWidget* parent, const char* name, QPalette::ColorRole colour)
{
    auto* l = new QWidget(parent);
    l->setObjectName(QLatin1String(name));
    QPalette pal = l->palette();
    pal.setColor(QPalette::Window, parent->palette().color(colour));
    l->setPalette(pal);
    l->setAutoFillBackground(true);
    return l;
}

} // namespace

Form2::Form2(PlaylistHolder& holder)
    : QWidget(nullptr,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , m_holder(&holder)
    , m_holderWindow(&holder.playlistWindow())
{
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Sequora : リストの編集"));
    setWindowIcon(appIcon());
    setFont(sequora::platform::pGothicFont(kFontPoints));
    setFixedSize(twips(kClientWidth), twips(kClientHeight));

    buildLayout();
    buildBrowsers();
    connectEvents();
    centreOnScreen();
    // Files and folders from a file manager land in the Playlist where they are dropped.
    PlayList->viewport()->setAcceptDrops(true);
    PlayList->viewport()->installEventFilter(this);

    // The editor has no owner, but it cannot outlive the player it hands over to.
    connect(m_holderWindow.data(), &QObject::destroyed, this, [this] { delete this; });
}

Form2::~Form2() = default;

void Form2::buildLayout()
{
    PlayList = new ListBox(this);
    PlayList->setObjectName(QStringLiteral("PlayList"));
    // The lists have no labels on screen; these are the names a screen reader speaks.
    PlayList->setAccessibleName(QStringLiteral("再生ﾘｽﾄ"));
    place(PlayList, 240, 240, 3855, 5280);

    Command2 = button(this, "Command2", QStringLiteral("OK"));
    place(Command2, 3120, 6000, 1335, 375);
    Command3 = button(this, "Command3", QStringLiteral("ｷｬﾝｾﾙ"));
    place(Command3, 5040, 6000, 1335, 375);

    drvList = new DriveList(this);
    drvList->setObjectName(QStringLiteral("drvList"));
    drvList->setAccessibleName(QStringLiteral("ﾄﾞﾗｲﾌﾞ"));
    place(drvList, 5660, 240, 3610, 300);
    // On Linux a drop-down list is announced by its value and named by the label it is
    // the buddy of; the window shows none, so this one stays hidden.
    auto* drvLabel = new QLabel(QStringLiteral("ﾄﾞﾗｲﾌﾞ"), this);
    drvLabel->setObjectName(QStringLiteral("drvListLabel"));
    drvLabel->setBuddy(drvList);
    drvLabel->hide();
    dirList = new DirList(this);
    dirList->setObjectName(QStringLiteral("dirList"));
    dirList->setAccessibleName(QStringLiteral("ﾌｫﾙﾀﾞ"));
    place(dirList, 5660, 600, 3580, 1770);
    filList = new FileList(this);
    filList->setObjectName(QStringLiteral("filList"));
    filList->setAccessibleName(QStringLiteral("ﾌｧｲﾙ"));
    place(filList, 5640, 2400, 3615, 3150);

    Command1 = button(this, "Command1", QStringLiteral("<- 追加(&A)"));
    place(Command1, 4200, 1320, 1335, 375);
    Command4 = button(this, "Command4", QStringLiteral("削除(&D) ->"));
    place(Command4, 4200, 2760, 1335, 375);
    Command5 = button(this, "Command5", QStringLiteral("すべてｸﾘｱ(&C)"));
    place(Command5, 4200, 3480, 1335, 375);
    Command6 = button(this, "Command6", QStringLiteral("指定して開く(&O)"));
    place(Command6, 4200, 600, 1335, 375);
    Command7 = button(this, "Command7", QStringLiteral("<- 全て追加(&E)"));
    place(Command7, 4200, 2040, 1335, 375);
    Command8 = button(this, "Command8", QStringLiteral("下へ(&B)"));
    place(Command8, 4200, 4920, 1335, 375);
    Command9 = button(this, "Command9", QStringLiteral("上へ(&T)"));
    place(Command9, 4200, 4200, 1335, 375);

    // Shadow above highlight: an etched rule across the window above OK and Cancel.
    Line1 = line(this, "Line1", QPalette::Dark);
    Line1->setGeometry(0, twips(5760), twips(kClientWidth), 1);
    Line2 = line(this, "Line2", QPalette::Light);
    Line2->setGeometry(0, twips(5775), twips(kClientWidth), 1);

    const QList<QWidget*> tabOrder { PlayList, Command2, Command3, drvList, dirList, filList,
        Command1, Command4, Command5, Command6, Command7, Command8, Command9 };
    for (int i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void Form2::connectEvents()
{
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form2::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form2::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form2::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form2::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &Form2::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &Form2::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &Form2::Command9_Click);
    connect(drvList, &DriveList::driveChanged, this, &Form2::drvList_Change);
    connect(dirList, &DirList::pathChanged, this, &Form2::dirList_Change);
    connect(filList, &QListWidget::itemDoubleClicked, this, &Form2::filList_DblClick);
}

void Form2::centreOnScreen()
{
    QScreen* screen = m_holderWindow != nullptr && m_holderWindow->screen() != nullptr
        ? m_holderWindow->screen()
        : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    QRect frame = rect();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void Form2::Form_Load()
{
    ListWS::SendMessageA(PlayList, ListWS::LB_SETHORIZONTALEXTENT, kPlayListExtent, 0);
    PlayList->clear();
    if (m_holderWindow == nullptr)
        return;
    PlayList->addEntries(m_holder->playlistEntries());
}

void Form2::Command2_Click()
{
    // Hidden, not closed: the list, selection and folders wait for the next opening.
    hide();
    if (m_holderWindow != nullptr)
        m_holder->takePlaylist(PlayList->entryList());
}

void Form2::Command3_Click()
{
    close();
}
