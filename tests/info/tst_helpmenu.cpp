// The player's Help menu: one version window and one read-me window, each without an
// owner, brought back rather than duplicated.

#include "info/frmAbout.h"
#include "info/frmRead.h"
#include "player/Form1.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QTest>

namespace {

template <typename Window>
int countOpen()
{
    int n = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        n += qobject_cast<Window*>(widget) != nullptr && widget->isVisible();
    return n;
}

} // namespace

class tst_HelpMenu : public QObject {
    Q_OBJECT

private slots:
    void aboutOpensOnce()
    {
        Form1 form;
        form.mnuHelpAbout->trigger();
        QPointer<frmAbout> first = form.aboutWindow();
        QVERIFY(first);
        QVERIFY(!first->parent());
        QVERIFY(first->isVisible());
        QVERIFY(!first->isModal());

        first->hide(); // behind or away: choosing the item brings the same one back
        form.mnuHelpAbout->trigger();
        QCOMPARE(form.aboutWindow(), first);
        QVERIFY(first->isVisible());
        QCOMPARE(countOpen<frmAbout>(), 1);

        // Once closed it is gone; the next choice loads a fresh one.
        first->cmdOK_Click();
        QTRY_VERIFY(first.isNull());
        QVERIFY(!form.aboutWindow());
        form.mnuHelpAbout_Click();
        QVERIFY(form.aboutWindow());
        QCOMPARE(countOpen<frmAbout>(), 1);
        delete form.aboutWindow();
    }

    void readmeOpensOnce()
    {
        Form1 form;
        form.mnuHelpRead->trigger();
        QPointer<frmRead> first = form.readmeWindow();
        QVERIFY(first);
        QVERIFY(!first->parent());
        form.mnuHelpRead->trigger();
        form.mnuHelpRead_Click();
        QCOMPARE(form.readmeWindow(), first);
        QCOMPARE(countOpen<frmRead>(), 1);

        // The two windows are independent of each other.
        form.mnuHelpAbout_Click();
        QCOMPARE(countOpen<frmRead>(), 1);
        QCOMPARE(countOpen<frmAbout>(), 1);

        first->close();
        QTRY_VERIFY(first.isNull());
        delete form.aboutWindow();
    }
};

QTEST_MAIN(tst_HelpMenu)
#include "tst_helpmenu.moc"
