// The view menu: elapsed or remaining time, the toolbar and the list-information row
// on or off, and the desktop's volume mixer.

#include "player/Form1.h"

#include "platform/Shell.h"
#include "platform/desktop/MessageBox.h"
#include "platform/desktop/Twips.h"
#include "player/ClickLabel.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QToolBar>

#include <array>
#include <utility>

using sequora::platform::twips;

namespace {

constexpr int kToolbarBand = 450; // twips
constexpr int kInfoRow = 600;     // twips

const QString kNoMixer = QStringLiteral(
    "ﾎﾞﾘｭｰﾑ ｺﾝﾄﾛｰﾙを起動できませんでした。\n"
    "音量ミキサー (pavucontrol など) をインストールしてください。");

// The desktop's own mixers in the order they are tried; the first that starts wins.
const std::array<std::pair<const char*, const char*>, 6> kMixers{{
    {"pavucontrol", nullptr},
    {"pwvucontrol", nullptr},
    {"gnome-control-center", "sound"},
    {"kmix", nullptr},
    {"xfce4-mixer", nullptr},
    {"mate-volume-control", nullptr},
}};

// The window cannot be resized by the user, so its fixed height is what changes; the
// menu bar keeps its own height and the client area takes the difference.
void changeHeight(Form1& form, int deltaTwips)
{
    form.setFixedHeight(form.height() + twips(deltaTwips));
}

void moveContents(Form1& form, int deltaTwips)
{
    for (QWidget* control : std::initializer_list<QWidget*>{
             form.Picture1, form.Command3, form.Command4, form.Command6, form.Command8,
             form.Command9, form.Command11, form.Command12, form.Command13, form.Combo1,
             form.Label6})
        control->move(control->x(), control->y() + twips(deltaTwips));
}

} // namespace

void Form1::mnuViewTime1_Click()
{
    mnuViewTime1->setChecked(true);
    mnuViewTime2->setChecked(false);
    setToolButtonValue(QStringLiteral("TimeStart"), 1);
    setToolButtonValue(QStringLiteral("TimeEnd"), 0);
}

void Form1::mnuViewTime2_Click()
{
    mnuViewTime2->setChecked(true);
    mnuViewTime1->setChecked(false);
    setToolButtonValue(QStringLiteral("TimeEnd"), 1);
    setToolButtonValue(QStringLiteral("TimeStart"), 0);
}

void Form1::Label3_Click()
{
    if (mnuViewTime1->isChecked())
        mnuViewTime2_Click();
    else
        mnuViewTime1_Click();
}

void Form1::Label7_Click()
{
    Label3_Click();
}

void Form1::mnuViewToolbar_Click()
{
    if (mnuViewToolbar->isChecked()) {
        tbToolBar->hide();
        mnuViewToolbar->setChecked(false);
        changeHeight(*this, -kToolbarBand);
        moveContents(*this, -kToolbarBand);
    } else {
        tbToolBar->show();
        mnuViewToolbar->setChecked(true);
        changeHeight(*this, kToolbarBand);
        moveContents(*this, kToolbarBand);
    }
}

void Form1::mnuViewInfo_Click()
{
    // Only the window shrinks: the row is cut off below the bottom edge, not moved.
    if (mnuViewInfo->isChecked()) {
        mnuViewInfo->setChecked(false);
        changeHeight(*this, -kInfoRow);
    } else {
        mnuViewInfo->setChecked(true);
        changeHeight(*this, kInfoRow);
    }
}

void Form1::mnuViewVol_Click()
{
    // Started detached: the player never waits for the mixer nor keeps hold of it.
    for (const auto& [program, argument] : kMixers) {
        const QStringList args = argument ? QStringList{QString::fromLatin1(argument)} : QStringList{};
        if (sequora::platform::StartProgram(QString::fromLatin1(program), args))
            return;
    }
    sequora::platform::MsgBox(kNoMixer, this);
}
