// The make-up of the player window: controls, toolbar, menus and which procedure
// answers which event.

#include "player/ClickLabel.h"
#include "player/Form1.h"
#include "platform/desktop/Fonts.h"
#include "platform/desktop/Twips.h"

#include <QAction>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

using sequora::platform::twips;

constexpr double kDisplayPointSize = 20.25;
constexpr double kCaptionPointSize = 11.25;
const QColor kOlive(128, 128, 0);
const QSize kGlyphSize(12, 11);
const QSize kToolImageSize(19, 18);
constexpr int kToolButtonWidthTwips = 390;
constexpr int kToolButtonHeightTwips = 360;

// Places a control by its layout values in twips.
void place(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

template <typename T>
T* named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QPushButton* pictureButton(QWidget* parent, const char* name, const char* glyph,
                           const QString& spokenName)
{
    auto* button = named(new QPushButton(parent), name);
    button->setIcon(QIcon(QStringLiteral(":/glyphs/%1.png").arg(QLatin1String(glyph))));
    button->setIconSize(kGlyphSize);
    button->setAccessibleName(spokenName);
    return button;
}

ClickLabel* displayLabel(QWidget* panel, const char* name, const QString& caption)
{
    auto* label = named(new ClickLabel(panel), name);
    label->setText(caption);
    label->setFont(sequora::platform::gothicFont(kDisplayPointSize));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kOlive);
    label->setPalette(palette);
    label->setAutoFillBackground(false); // the panel's black shows through
    return label;
}

// A menu item; the toggles are created checked, start-up sets them.
QAction* item(QMenu* menu, const char* name, const QString& caption, bool toggle = false)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    if (toggle) {
        action->setCheckable(true);
        action->setChecked(true);
    }
    return action;
}

QAction* separator(QMenu* menu, const char* name)
{
    QAction* action = menu->addSeparator();
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

} // namespace

void Form1::buildLayout()
{
    auto* client = named(new QWidget(this), "client");
    setCentralWidget(client);

    buildToolbar();

    Combo1 = named(new QComboBox(client), "Combo1");
    Combo1->setEditable(false);
    // Without a name a screen reader would only read the selected path.
    Combo1->setAccessibleName(QStringLiteral("曲の選択"));
    place(Combo1, 960, 1560, 3615, 300);

    Command13 = pictureButton(client, "Command13", "eject", QStringLiteral("再生ﾘｽﾄの編集"));
    place(Command13, 4200, 960, 375, 375);

    Picture1 = named(new QWidget(client), "Picture1");
    place(Picture1, 120, 480, 2415, 855);
    QPalette black = Picture1->palette();
    black.setColor(QPalette::Window, Qt::black);
    Picture1->setPalette(black);
    Picture1->setAutoFillBackground(true);

    Label3 = displayLabel(Picture1, "Label3", QStringLiteral("00:00"));
    place(Label3, 1080, 240, 1095, 375);
    Label7 = displayLabel(Picture1, "Label7", QStringLiteral("[00]"));
    place(Label7, 120, 240, 855, 375);

    Command6 = pictureButton(client, "Command6", "next", QStringLiteral("次の曲"));
    place(Command6, 3840, 960, 375, 375);

    // Interval 0: idle until the first track is loaded.
    Timer1 = named(new QTimer(this), "Timer1");

    // The hidden fields lie below the client area's bottom edge, in its own colours.
    Text1 = named(new QLineEdit(client), "Text1");
    place(Text1, 1200, 2160, 1095, 270);
    Text1->setText(QStringLiteral("Text1"));
    Text1->setFocusPolicy(Qt::NoFocus);
    QPalette faceOnFace = Text1->palette();
    faceOnFace.setColor(QPalette::Base, faceOnFace.color(QPalette::Button));
    faceOnFace.setColor(QPalette::Text, faceOnFace.color(QPalette::Button));
    Text1->setPalette(faceOnFace);

    Command12 = pictureButton(client, "Command12", "forward", QStringLiteral("早送り"));
    place(Command12, 3480, 960, 375, 375);
    Command11 = pictureButton(client, "Command11", "rewind", QStringLiteral("巻き戻し"));
    place(Command11, 3120, 960, 375, 375);
    Command9 = pictureButton(client, "Command9", "prev", QStringLiteral("前の曲"));
    place(Command9, 2760, 960, 375, 375);
    Command8 = pictureButton(client, "Command8", "stop", QStringLiteral("停止"));
    place(Command8, 4200, 480, 375, 375);
    Command4 = pictureButton(client, "Command4", "pause", QStringLiteral("一時停止"));
    place(Command4, 3840, 480, 375, 375);
    Command3 = pictureButton(client, "Command3", "play", QStringLiteral("再生"));
    place(Command3, 2760, 480, 1095, 375);

    Label1 = named(new QLabel(client), "Label1");
    place(Label1, 2520, 2160, 1095, 255);
    QPalette faceText = Label1->palette();
    faceText.setColor(QPalette::WindowText, faceText.color(QPalette::Button));
    Label1->setPalette(faceText);

    Label6 = named(new QLabel(QStringLiteral("MIDI:"), client), "Label6");
    place(Label6, 240, 1590, 615, 255);
    Label6->setFont(sequora::platform::gothicFont(kCaptionPointSize));
    // A screen reader on Linux names a selector by the label it is the buddy of.
    Label6->setBuddy(Combo1);

    // Tab order by tab index; labels, the panel and the hidden field take no focus.
    QWidget* order[] = {Command3, Command4, Command8, Command9, Command6,
                        Command11, Command12, Command13, Combo1};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Form1::buildToolbar()
{
    tbToolBar = named(new QToolBar(centralWidget()), "tbToolBar");
    place(tbToolBar, 0, 0, 4650, 450);
    tbToolBar->setMovable(false);
    tbToolBar->setFloatable(false);
    tbToolBar->setIconSize(kToolImageSize);
    tbToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);

    struct Button {
        const char* key;
        int image; // 0: separator
        const char* tip;
    };
    const Button buttons[] = {
        {"ListEdit", 1, "再生ﾘｽﾄの編集"}, {nullptr, 0, nullptr},
        {"TimeStart", 2, "経過時間の表示"}, {"TimeEnd", 3, "残り時間の表示"},
        {nullptr, 0, nullptr},
        {"RandPlay", 4, "ﾗﾝﾀﾞﾑ"}, {"RenPlay", 5, "連続再生"}, {"IntoPlay", 6, "ｲﾝﾄﾛ再生"},
    };
    for (const Button& b : buttons) {
        if (b.key == nullptr) {
            tbToolBar->addSeparator();
            continue;
        }
        const QString key = QString::fromLatin1(b.key);
        QAction* action = tbToolBar->addAction(
            QIcon(QStringLiteral(":/toolbar/%1.png").arg(b.image)), QString());
        action->setObjectName(key);
        action->setData(key);
        action->setToolTip(QString::fromUtf8(b.tip));
        // Every button but the first is a two-state switch; none starts pressed.
        action->setCheckable(key != QLatin1String("ListEdit"));
        if (QWidget* face = tbToolBar->widgetForAction(action))
            face->setFixedSize(twips(kToolButtonWidthTwips), twips(kToolButtonHeightTwips));
    }
}

void Form1::buildMenus()
{
    QMenuBar* bar = menuBar();

    mnuFile = bar->addMenu(QStringLiteral("MIDI(&M)"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFileList = item(mnuFile, "mnuFileList", QStringLiteral("再生ﾘｽﾄの編集(&L)"));
    mnuFileBar1 = separator(mnuFile, "mnuFileBar1");
    mnuFileExit = item(mnuFile, "mnuFileExit", QStringLiteral("Sequoraの終了(&X)"));

    mnuView = bar->addMenu(QStringLiteral("表示(&V)"));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    mnuViewToolbar = item(mnuView, "mnuViewToolbar", QStringLiteral("ﾂｰﾙ ﾊﾞｰ(&T)"), true);
    mnuViewInfo = item(mnuView, "mnuViewInfo", QStringLiteral("ﾘｽﾄ情報(&I)"), true);
    mnuViewBar1 = separator(mnuView, "mnuViewBar1");
    mnuViewTime1 = item(mnuView, "mnuViewTime1", QStringLiteral("経過時間(&E)"), true);
    mnuViewTime2 = item(mnuView, "mnuViewTime2", QStringLiteral("残り時間(&C)"), true);
    mnuViewBar2 = separator(mnuView, "mnuViewBar2");
    mnuViewVol = item(mnuView, "mnuViewVol", QStringLiteral("ﾎﾞﾘｭｰﾑ ｺﾝﾄﾛｰﾙ(&V)"));
    mnuViewBar3 = separator(mnuView, "mnuViewBar3");
    mnuViewLyrics = item(mnuView, "mnuViewLyrics", QStringLiteral("歌詞(&K)"));
    mnuViewParts = item(mnuView, "mnuViewParts", QStringLiteral("ﾊﾟｰﾄ(&P)"));

    mnuOption = bar->addMenu(QStringLiteral("ｵﾌﾟｼｮﾝ(&O)"));
    mnuOption->setObjectName(QStringLiteral("mnuOption"));
    mnuRandPlay = item(mnuOption, "mnuRandPlay", QStringLiteral("ﾗﾝﾀﾞﾑ(&R)"), true);
    mnuRenPlay = item(mnuOption, "mnuRenPlay", QStringLiteral("連続再生(&C)"), true);
    mnuIntoPlay = item(mnuOption, "mnuIntoPlay", QStringLiteral("ｲﾝﾄﾛ再生(&I)"), true);
    mnuOptionBar1 = separator(mnuOption, "mnuOptionBar1");
    mnuSound = item(mnuOption, "mnuSound", QStringLiteral("音源の設定(&S)..."));

    mnuHelp = bar->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelpRead = item(mnuHelp, "mnuHelpRead", QStringLiteral("お読み下さい(&R)"));
    mnuHelpBar = separator(mnuHelp, "mnuHelpBar");
    mnuHelpAbout = item(mnuHelp, "mnuHelpAbout", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"));
}

void Form1::connectEvents()
{
    // Every procedure below runs through dispatch, so that a resting monitor catches up
    // with what it changed; the timer's own tick lets the monitor come to rest.
    const auto onClick = [this](QPushButton* button, void (Form1::*procedure)()) {
        connect(button, &QPushButton::clicked, this,
                [this, procedure] { dispatch(procedure, this); });
    };
    onClick(Command3, &Form1::Command3_Click);
    onClick(Command4, &Form1::Command4_Click);
    onClick(Command8, &Form1::Command8_Click);
    onClick(Command9, &Form1::Command9_Click);
    onClick(Command11, &Form1::Command11_Click);
    onClick(Command12, &Form1::Command12_Click);
    onClick(Command6, &Form1::Command6_Click);
    onClick(Command13, &Form1::Command13_Click);

    // A choice in the list, also of the entry already selected.
    connect(Combo1, &QComboBox::activated, this, [this] { dispatch(&Form1::Combo1_Click, this); });
    connect(Timer1, &QTimer::timeout, this, [this] {
        Timer1_Timer();
        restMonitorIfSettled();
    });
    connect(Label3, &ClickLabel::clicked, this, [this] { dispatch(&Form1::Label3_Click, this); });
    connect(Label7, &ClickLabel::clicked, this, [this] { dispatch(&Form1::Label7_Click, this); });
    connect(tbToolBar, &QToolBar::actionTriggered, this, [this](QAction* button) {
        dispatch(&Form1::tbToolBar_ButtonClick, this, button->data().toString());
    });

    // A menu item's check mark is state that only its procedure changes: the toolkit's
    // own flip on a click is undone before the procedure reads it.
    const auto onMenu = [this](QAction* action, void (Form1::*procedure)()) {
        connect(action, &QAction::triggered, this, [this, action, procedure](bool checked) {
            if (action->isCheckable())
                action->setChecked(!checked);
            dispatch(procedure, this);
        });
    };
    onMenu(mnuFileList, &Form1::mnuFileList_Click);
    onMenu(mnuFileExit, &Form1::mnuFileExit_Click);
    onMenu(mnuViewToolbar, &Form1::mnuViewToolbar_Click);
    onMenu(mnuViewInfo, &Form1::mnuViewInfo_Click);
    onMenu(mnuViewTime1, &Form1::mnuViewTime1_Click);
    onMenu(mnuViewTime2, &Form1::mnuViewTime2_Click);
    onMenu(mnuViewVol, &Form1::mnuViewVol_Click);
    onMenu(mnuViewLyrics, &Form1::mnuViewLyrics_Click);
    onMenu(mnuViewParts, &Form1::mnuViewParts_Click);
    onMenu(mnuRandPlay, &Form1::mnuRandPlay_Click);
    onMenu(mnuRenPlay, &Form1::mnuRenPlay_Click);
    onMenu(mnuIntoPlay, &Form1::mnuIntoPlay_Click);
    onMenu(mnuSound, &Form1::mnuSound_Click);
    onMenu(mnuHelpRead, &Form1::mnuHelpRead_Click);
    onMenu(mnuHelpAbout, &Form1::mnuHelpAbout_Click);
}
