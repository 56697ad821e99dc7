// The view menu: time mode from the menu and the display labels, the toolbar and
// list-information toggles with the window's height and layout, and the volume mixer.

#include "PlayerTestKit.h"
#include "platform/desktop/Twips.h"

#include <QMenuBar>
#include <QSet>
#include <QTest>
#include <QToolBar>

#include <memory>

using namespace sequora::test;
using sequora::platform::twips;

namespace {

constexpr int kStartClient = 1980;
constexpr int kToolbarBand = 450;
constexpr int kInfoRow = 600;

} // namespace

class tst_View : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

    void cleanup()
    {
        sequora::platform::setStartProgramHook({});
        m_form.reset();
    }

    void clicksOnTheDisplaySwitchTheTimeMode()
    {
        for (ClickLabel* label : {m_form->Label3, m_form->Label7}) {
            QTest::mouseClick(label, Qt::LeftButton);
            QVERIFY(!m_form->mnuViewTime1->isChecked());
            QVERIFY(m_form->mnuViewTime2->isChecked());
            QVERIFY(!m_form->toolButton(QStringLiteral("TimeStart"))->isChecked());
            QVERIFY(m_form->toolButton(QStringLiteral("TimeEnd"))->isChecked());
            QTest::mouseClick(label, Qt::LeftButton);
            QVERIFY(m_form->mnuViewTime1->isChecked());
            QVERIFY(!m_form->mnuViewTime2->isChecked());
            QVERIFY(m_form->toolButton(QStringLiteral("TimeStart"))->isChecked());
            QVERIFY(!m_form->toolButton(QStringLiteral("TimeEnd"))->isChecked());
        }
    }

    void theFourWindowHeights()
    {
        const Layout start = layout();
        QCOMPARE(start.client, twips(kStartClient));
        QCOMPARE(start.picture1Top, twips(480));
        QCOMPARE(start.combo1Top, twips(1560));

        m_form->mnuViewToolbar->trigger();
        const Layout noToolbar = layout();
        QVERIFY(!m_form->tbToolBar->isVisible());
        QVERIFY(!m_form->mnuViewToolbar->isChecked());
        QCOMPARE(noToolbar.client, twips(1530));
        QCOMPARE(noToolbar.picture1Top, twips(30));
        QCOMPARE(noToolbar.combo1Top, twips(1110));
        QCOMPARE(noToolbar.moved, shifted(start.moved, -twips(kToolbarBand)));
        QCOMPARE(noToolbar.hidden, start.hidden);

        m_form->mnuViewInfo->trigger();
        const Layout neither = layout();
        QVERIFY(!m_form->mnuViewInfo->isChecked());
        QCOMPARE(neither.client, twips(930));
        QCOMPARE(neither.moved, noToolbar.moved);
        // The row is cut off below the bottom edge, not moved.
        QVERIFY(neither.combo1Top >= neither.client);

        m_form->mnuViewToolbar->trigger();
        const Layout noInfo = layout();
        QVERIFY(m_form->tbToolBar->isVisible());
        QCOMPARE(noInfo.client, twips(1380));
        QCOMPARE(noInfo.moved, start.moved);
        QVERIFY(noInfo.combo1Top >= noInfo.client);

        m_form->mnuViewInfo->trigger();
        QCOMPARE(layout(), start);
    }

    void eitherOrderRestoresTheStartLayout()
    {
        m_form->Combo1->addItems({QStringLiteral("/a.mid"), QStringLiteral("/b.mid")});
        m_form->Combo1->setCurrentIndex(1);
        const Layout start = layout();
        m_form->mnuViewInfo_Click();
        m_form->mnuViewToolbar_Click();
        QCOMPARE(layout().client, twips(kStartClient - kToolbarBand - kInfoRow));
        m_form->mnuViewInfo_Click();
        m_form->mnuViewToolbar_Click();
        QCOMPARE(layout(), start);
        QCOMPARE(m_form->Combo1->currentIndex(), 1);
    }

    void volumeControlTriesTheMixersInTurn()
    {
        CaughtBoxes boxes;
        QStringList tried;
        sequora::platform::setStartProgramHook([&](const QString& program, const QStringList&) {
            tried << program;
            return program == QLatin1String("pwvucontrol");
        });
        m_form->mnuViewVol->trigger();
        QCOMPARE(tried, (QStringList{"pavucontrol", "pwvucontrol"}));
        m_form->mnuViewVol->trigger();
        QCOMPARE(tried.count(QStringLiteral("pwvucontrol")), 2);
        QVERIFY(boxes.texts.isEmpty());
    }

    void noMixerSaysSoOnce()
    {
        CaughtBoxes boxes;
        QStringList tried;
        sequora::platform::setStartProgramHook([&](const QString& program, const QStringList&) {
            tried << program;
            return false;
        });
        m_form->mnuViewVol_Click();
        QVERIFY(tried.size() >= 3);
        QCOMPARE(tried.first(), QStringLiteral("pavucontrol"));
        QCOMPARE(QSet<QString>(tried.begin(), tried.end()).size(), tried.size());
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(boxes.texts.first().contains(QStringLiteral("ﾎﾞﾘｭｰﾑ ｺﾝﾄﾛｰﾙ")));
        QCOMPARE(boxes.captions, QStringList{QStringLiteral("Sequora")});
    }

private:
    struct Layout {
        int client = 0;
        int picture1Top = 0;
        int combo1Top = 0;
        QList<int> moved;  // tops of the controls the toolbar toggle moves
        QList<int> hidden; // tops of Text1 and Label1
        bool operator==(const Layout&) const = default;
    };

    Layout layout() const
    {
        QCoreApplication::processEvents(); // lets the main window lay out its new size
        Layout l;
        l.client = m_form->height() - m_form->menuBar()->height();
        l.picture1Top = m_form->Picture1->y();
        l.combo1Top = m_form->Combo1->y();
        for (QWidget* w : std::initializer_list<QWidget*>{
                 m_form->Picture1, m_form->Command3, m_form->Command4, m_form->Command6,
                 m_form->Command8, m_form->Command9, m_form->Command11, m_form->Command12,
                 m_form->Command13, m_form->Combo1, m_form->Label6})
            l.moved << w->y();
        l.hidden << m_form->Text1->y() << m_form->Label1->y();
        return l;
    }

    static QList<int> shifted(QList<int> tops, int by)
    {
        for (int& top : tops)
            top += by;
        return tops;
    }

    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_View)
#include "tst_view.moc"
