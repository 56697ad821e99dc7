// The play-order options (random, continuous, intro) and the toolbar's dispatch. The
// menu items hold the options; the toolbar buttons only mirror them.

#include "player/Form1.h"

#include <QAction>

namespace {

// Flips a menu item and writes its toolbar button from the new state. A check-style
// button has already flipped itself when its click arrives; writing it again from the
// menu keeps the two equal whichever way the toggle was reached.
void toggleOption(Form1& form, QAction* item, const QString& key)
{
    if (item->isChecked()) {
        item->setChecked(false);
        form.setToolButtonValue(key, 0);
    } else {
        item->setChecked(true);
        form.setToolButtonValue(key, 1);
    }
}

} // namespace

void Form1::mnuRandPlay_Click()
{
    toggleOption(*this, mnuRandPlay, QStringLiteral("RandPlay"));
}

void Form1::mnuRenPlay_Click()
{
    toggleOption(*this, mnuRenPlay, QStringLiteral("RenPlay"));
}

void Form1::mnuIntoPlay_Click()
{
    toggleOption(*this, mnuIntoPlay, QStringLiteral("IntoPlay"));
}

void Form1::tbToolBar_ButtonClick(const QString& key)
{
    // Each button does exactly what its menu item does; separators carry no key.
    if (key == QLatin1String("ListEdit"))
        mnuFileList_Click();
    else if (key == QLatin1String("TimeStart"))
        mnuViewTime1_Click();
    else if (key == QLatin1String("TimeEnd"))
        mnuViewTime2_Click();
    else if (key == QLatin1String("IntoPlay"))
        mnuIntoPlay_Click();
    else if (key == QLatin1String("RandPlay"))
        mnuRandPlay_Click();
    else if (key == QLatin1String("RenPlay"))
        mnuRenPlay_Click();
}
