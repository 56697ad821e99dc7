// The play-order options from the menu and the toolbar, and the toolbar's dispatch.

#include "PlayerTestKit.h"
#include "playlist/Form2.h"

#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <memory>

using namespace sequora::test;

namespace {

struct Option {
    QAction* Form1::*item;
    const char* key;
};

const Option kOptions[] = {
    {&Form1::mnuRandPlay, "RandPlay"},
    {&Form1::mnuRenPlay, "RenPlay"},
    {&Form1::mnuIntoPlay, "IntoPlay"},
};

} // namespace

class tst_Modes : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    void cleanup() { m_form.reset(); }

    void menuChoicesPressAndReleaseTheirButtons()
    {
        for (const Option& option : kOptions) {
            QAction* item = m_form.get()->*option.item;
            QAction* button = m_form->toolButton(QLatin1String(option.key));
            QVERIFY(button);
            item->trigger(); // as a choice in the menu
            QVERIFY2(item->isChecked(), option.key);
            QVERIFY2(button->isChecked(), option.key);
            item->trigger();
            QVERIFY2(!item->isChecked(), option.key);
            QVERIFY2(!button->isChecked(), option.key);
        }
    }

    void buttonClicksCheckAndUncheckTheirMenuItems()
    {
        for (const Option& option : kOptions) {
            QAction* item = m_form.get()->*option.item;
            clickToolButton(QLatin1String(option.key));
            QVERIFY2(item->isChecked(), option.key);
            QVERIFY2(m_form->toolButton(QLatin1String(option.key))->isChecked(), option.key);
            clickToolButton(QLatin1String(option.key));
            QVERIFY2(!item->isChecked(), option.key);
            QVERIFY2(!m_form->toolButton(QLatin1String(option.key))->isChecked(), option.key);
        }
    }

    void optionsAreIndependentAndButtonsFollowTheMenu()
    {
        // A mixed run of menu choices, button clicks and direct calls.
        m_form->mnuRandPlay->trigger();
        clickToolButton(QStringLiteral("IntoPlay"));
        m_form->tbToolBar_ButtonClick(QStringLiteral("RenPlay"));
        QVERIFY(m_form->mnuRandPlay->isChecked());
        QVERIFY(m_form->mnuRenPlay->isChecked());
        QVERIFY(m_form->mnuIntoPlay->isChecked());
        clickToolButton(QStringLiteral("RandPlay"));
        m_form->mnuIntoPlay_Click();
        QVERIFY(!m_form->mnuRandPlay->isChecked());
        QVERIFY(m_form->mnuRenPlay->isChecked());
        QVERIFY(!m_form->mnuIntoPlay->isChecked());
        // A button that disagrees with its menu item is put right by the next toggle.
        m_form->setToolButtonValue(QStringLiteral("RenPlay"), 0);
        m_form->mnuRenPlay_Click();
        QVERIFY(!m_form->mnuRenPlay->isChecked());
        for (const Option& option : kOptions)
            QCOMPARE(m_form->toolButton(QLatin1String(option.key))->isChecked(),
                     (m_form.get()->*option.item)->isChecked());
    }

    void timeButtonsSwitchTheTimeDisplay()
    {
        clickToolButton(QStringLiteral("TimeEnd"));
        QVERIFY(!m_form->mnuViewTime1->isChecked());
        QVERIFY(m_form->mnuViewTime2->isChecked());
        QVERIFY(!m_form->toolButton(QStringLiteral("TimeStart"))->isChecked());
        QVERIFY(m_form->toolButton(QStringLiteral("TimeEnd"))->isChecked());
        // Clicking the pressed mode again leaves it on.
        clickToolButton(QStringLiteral("TimeEnd"));
        QVERIFY(m_form->mnuViewTime2->isChecked());
        QVERIFY(m_form->toolButton(QStringLiteral("TimeEnd"))->isChecked());
        clickToolButton(QStringLiteral("TimeStart"));
        QVERIFY(m_form->mnuViewTime1->isChecked());
        QVERIFY(!m_form->mnuViewTime2->isChecked());
        QVERIFY(m_form->toolButton(QStringLiteral("TimeStart"))->isChecked());
        QVERIFY(!m_form->toolButton(QStringLiteral("TimeEnd"))->isChecked());
    }

    void listEditOpensTheEditor()
    {
        QVERIFY(!m_form->editor());
        clickToolButton(QStringLiteral("ListEdit"));
        QVERIFY(m_form->editor());
        QVERIFY(m_form->editor()->isVisible());
    }

    void unknownKeysAndSeparatorsDoNothing()
    {
        const QList<bool> before = checks();
        for (const QString& key : {QString(), QStringLiteral("randplay"),
                                   QStringLiteral("RandPlay "), QStringLiteral("Bogus")})
            m_form->tbToolBar_ButtonClick(key);
        // The separators themselves, clicked on the toolbar.
        for (QAction* action : m_form->tbToolBar->actions()) {
            if (action->isSeparator()) {
                if (QWidget* face = m_form->tbToolBar->widgetForAction(action))
                    QTest::mouseClick(face, Qt::LeftButton);
            }
        }
        QCOMPARE(checks(), before);
        QVERIFY(!m_form->editor());
    }

private:
    void clickToolButton(const QString& key)
    {
        QWidget* face = m_form->tbToolBar->widgetForAction(m_form->toolButton(key));
        QVERIFY(face);
        QTest::mouseClick(face, Qt::LeftButton);
    }

    QList<bool> checks() const
    {
        QList<bool> states;
        for (QAction* a : {m_form->mnuRandPlay, m_form->mnuRenPlay, m_form->mnuIntoPlay,
                           m_form->mnuViewTime1, m_form->mnuViewTime2})
            states << a->isChecked();
        for (const char* key : {"TimeStart", "TimeEnd", "RandPlay", "RenPlay", "IntoPlay"})
            states << m_form->toolButton(QLatin1String(key))->isChecked();
        return states;
    }

    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_Modes)
#include "tst_modes.moc"
