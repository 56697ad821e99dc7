// The player window as it opens: its controls' places, faces, fonts and colours, the
// toolbar and the menus, the start state, and that every control reaches its
// procedure.

#include "PlayerTestKit.h"

#include <QFontMetricsF>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <memory>

using namespace sequora::test;

namespace {

QList<QPushButton*> transportButtons(const Form1& f)
{
    return {f.Command3, f.Command4, f.Command6, f.Command8, f.Command9, f.Command11, f.Command12};
}

// Black and fully transparent are the only colours a button glyph has.
bool onlyBlackOnClear(const QImage& image, int* black)
{
    *black = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0)
                continue;
            if (c != QColor(Qt::black))
                return false;
            ++*black;
        }
    }
    return true;
}

// Digits, signs and halfwidth katakana take one cell, fullwidth characters two.
bool onFixedGrid(const QFont& font)
{
    const QFontMetricsF metrics(font);
    const qreal cell = metrics.horizontalAdvance(QLatin1Char('0'));
    for (const char* narrow : {"1", ":", "[", "]", "M", "ｱ", "ﾟ", "ﾝ"}) {
        if (metrics.horizontalAdvance(QString::fromUtf8(narrow)) != cell)
            return false;
    }
    return metrics.horizontalAdvance(QStringLiteral("再")) == 2 * cell;
}

} // namespace

class tst_Form1Layout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = logInto(m_dir);
    }

    void init()
    {
        QFile::remove(m_log);
        m_form = std::make_unique<Form1>();
    }

    void cleanup() { m_form.reset(); }

    void windowIsFixedCentredAndTitled()
    {
        Form1& f = *m_form;
        QCOMPARE(f.windowTitle(), QStringLiteral("Sequora"));
        QVERIFY(!f.windowIcon().isNull());
        QCOMPARE(f.windowIcon().pixmap(32, 32).size(), QSize(32, 32));
        QCOMPARE(f.centralWidget()->size(), QSize(310, 132));
        QCOMPARE(f.centralWidget()->y(), f.menuBar()->height());
        QCOMPARE(f.minimumSize(), f.maximumSize());

        const Qt::WindowFlags flags = f.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));

        const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY2((f.geometry().center() - screenCentre).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("window centre %1,%2")
                                .arg(f.geometry().center().x()).arg(f.geometry().center().y())));
    }

    void controlsSitWhereTheLayoutPutsThem_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::newRow("tbToolBar") << "tbToolBar" << QRect(0, 0, 4650, 450);
        QTest::newRow("Combo1") << "Combo1" << QRect(960, 1560, 3615, 300);
        QTest::newRow("Command13") << "Command13" << QRect(4200, 960, 375, 375);
        QTest::newRow("Picture1") << "Picture1" << QRect(120, 480, 2415, 855);
        QTest::newRow("Label3") << "Label3" << QRect(1080, 240, 1095, 375);
        QTest::newRow("Label7") << "Label7" << QRect(120, 240, 855, 375);
        QTest::newRow("Command6") << "Command6" << QRect(3840, 960, 375, 375);
        QTest::newRow("Text1") << "Text1" << QRect(1200, 2160, 1095, 270);
        QTest::newRow("Command12") << "Command12" << QRect(3480, 960, 375, 375);
        QTest::newRow("Command11") << "Command11" << QRect(3120, 960, 375, 375);
        QTest::newRow("Command9") << "Command9" << QRect(2760, 960, 375, 375);
        QTest::newRow("Command8") << "Command8" << QRect(4200, 480, 375, 375);
        QTest::newRow("Command4") << "Command4" << QRect(3840, 480, 375, 375);
        QTest::newRow("Command3") << "Command3" << QRect(2760, 480, 1095, 375);
        QTest::newRow("Label1") << "Label1" << QRect(2520, 2160, 1095, 255);
        QTest::newRow("Label6") << "Label6" << QRect(240, 1590, 615, 255);
    }
    void controlsSitWhereTheLayoutPutsThem()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        auto* control = m_form->findChild<QWidget*>(name);
        QVERIFY2(control, qPrintable(name));
        const QRect pixels(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
        QCOMPARE(control->geometry(), pixels);
        // Label3 and Label7 are measured inside the display panel, the rest in the client area.
        QWidget* expectedParent = name.startsWith("Label3") || name.startsWith("Label7")
                                      ? m_form->Picture1
                                      : m_form->centralWidget();
        QCOMPARE(control->parentWidget(), expectedParent);
    }

    void hiddenFieldsLieBelowTheClientArea()
    {
        const int bottom = m_form->centralWidget()->height();
        QVERIFY(m_form->Text1->y() >= bottom);
        QVERIFY(m_form->Label1->y() >= bottom);
        QCOMPARE(m_form->Text1->text(), QStringLiteral("Text1")); // until start-up clears it
        QCOMPARE(m_form->Text1->focusPolicy(), Qt::NoFocus);
        const QPalette face = m_form->palette();
        QCOMPARE(m_form->Text1->palette().color(QPalette::Text), face.color(QPalette::Button));
        QCOMPARE(m_form->Label1->palette().color(QPalette::WindowText), face.color(QPalette::Button));
    }

    void displayPanelIsOliveOnBlack()
    {
        Form1& f = *m_form;
        QVERIFY(f.Picture1->autoFillBackground());
        QCOMPARE(f.Picture1->palette().color(QPalette::Window), QColor(Qt::black));
        for (QLabel* label : {static_cast<QLabel*>(f.Label3), static_cast<QLabel*>(f.Label7)}) {
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(128, 128, 0));
            QVERIFY(!label->autoFillBackground());
            QCOMPARE(label->font().pointSizeF(), 20.25);
            QVERIFY(onFixedGrid(label->font()));
            QCOMPARE(label->font().weight(), QFont::Normal);
            QVERIFY(label->alignment().testFlag(Qt::AlignLeft));
        }
        QCOMPARE(f.Label3->text(), QStringLiteral("00:00"));
        QCOMPARE(f.Label7->text(), QStringLiteral("[00]"));
        // No spoken name: a screen reader reads their text.
        QVERIFY(f.Label3->accessibleName().isEmpty());
        QVERIFY(f.Label7->accessibleName().isEmpty());
        QCOMPARE(f.Label6->text(), QStringLiteral("MIDI:"));
        QCOMPARE(f.Label6->font().pointSizeF(), 11.25);
        QVERIFY(onFixedGrid(f.Label6->font()));
        QVERIFY(!f.Combo1->isEditable());
        QCOMPARE(f.Combo1->count(), 0);
    }

    void pictureButtonsHaveFacesAndSpokenNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("Command3") << "Command3" << "再生";
        QTest::newRow("Command4") << "Command4" << "一時停止";
        QTest::newRow("Command8") << "Command8" << "停止";
        QTest::newRow("Command9") << "Command9" << "前の曲";
        QTest::newRow("Command11") << "Command11" << "巻き戻し";
        QTest::newRow("Command12") << "Command12" << "早送り";
        QTest::newRow("Command6") << "Command6" << "次の曲";
        QTest::newRow("Command13") << "Command13" << "再生ﾘｽﾄの編集";
    }
    void pictureButtonsHaveFacesAndSpokenNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, spoken);
        auto* button = m_form->findChild<QPushButton*>(name);
        QVERIFY(button);
        QVERIFY(button->text().isEmpty());
        QVERIFY(button->toolTip().isEmpty());
        QCOMPARE(button->iconSize(), QSize(12, 11));
        QVERIFY(!button->icon().isNull());
        QCOMPARE(button->accessibleName(), spoken);
    }

    void picturesAreDrawnToSize()
    {
        const char* glyphs[] = {"play", "pause", "stop", "prev", "rewind", "forward", "next", "eject"};
        for (const char* glyph : glyphs) {
            const QImage image(QStringLiteral(":/glyphs/%1.png").arg(QLatin1String(glyph)));
            QCOMPARE(image.size(), QSize(12, 11));
            int black = 0;
            QVERIFY2(onlyBlackOnClear(image, &black), glyph);
            QVERIFY2(black >= 30, glyph);
        }
        for (int i = 1; i <= 6; ++i) {
            const QImage image(QStringLiteral(":/toolbar/%1.png").arg(i));
            QCOMPARE(image.size(), QSize(19, 18));
            QCOMPARE(image.pixelColor(0, 0), QColor(191, 191, 191));
            QVERIFY(!image.hasAlphaChannel());
        }
        const QImage icon(QStringLiteral(":/icons/sequora-32.png"));
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(icon.pixelColor(0, 0).alpha(), 0);
    }

    void toolbarHoldsItsEightItems()
    {
        const QList<QAction*> items = m_form->tbToolBar->actions();
        QCOMPARE(items.size(), 8);
        struct Expected {
            const char* key;
            bool check;
            const char* tip;
        };
        const Expected expected[] = {
            {"ListEdit", false, "再生ﾘｽﾄの編集"}, {nullptr, false, nullptr},
            {"TimeStart", true, "経過時間の表示"}, {"TimeEnd", true, "残り時間の表示"},
            {nullptr, false, nullptr},
            {"RandPlay", true, "ﾗﾝﾀﾞﾑ"}, {"RenPlay", true, "連続再生"}, {"IntoPlay", true, "ｲﾝﾄﾛ再生"},
        };
        for (int i = 0; i < 8; ++i) {
            QAction* item = items.at(i);
            const Expected& e = expected[i];
            if (e.key == nullptr) {
                QVERIFY2(item->isSeparator(), qPrintable(QString::number(i)));
                continue;
            }
            const QString key = QString::fromLatin1(e.key);
            QCOMPARE(item->data().toString(), key);
            QCOMPARE(m_form->toolButton(key), item);
            QCOMPARE(item->isCheckable(), e.check);
            QVERIFY(!item->isChecked()); // start-up presses "TimeStart"
            QCOMPARE(item->toolTip(), QString::fromUtf8(e.tip));
            QVERIFY(item->text().isEmpty());
            QVERIFY(!item->icon().isNull());
            QCOMPARE(m_form->tbToolBar->widgetForAction(item)->size(), QSize(26, 24));
        }
        QCOMPARE(m_form->toolButton(QString()), nullptr);
        QCOMPARE(m_form->toolButton(QStringLiteral("listedit")), nullptr);
    }

    void menusHoldEveryItemInOrder()
    {
        const QList<QAction*> bar = m_form->menuBar()->actions();
        QCOMPARE(bar.size(), 4);
        const QStringList titles = {"MIDI(&M)", "表示(&V)", "ｵﾌﾟｼｮﾝ(&O)", "ﾍﾙﾌﾟ(&H)"};
        const QList<QMenu*> menus = {m_form->mnuFile, m_form->mnuView, m_form->mnuOption,
                                     m_form->mnuHelp};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(bar.at(i)->menu(), menus.at(i));
            QCOMPARE(bar.at(i)->text(), titles.at(i));
        }
        // name, caption ("-" a separator), toggle
        const QList<QList<QStringList>> items = {
            { { "mnuFileList", "再生ﾘｽﾄの編集(&L)", "" }, { "mnuFileBar1", "-", "" },
                { "mnuFileExit", "Sequoraの終了(&X)", "" } },
            { { "mnuViewToolbar", "ﾂｰﾙ ﾊﾞｰ(&T)", "toggle" },
                { "mnuViewInfo", "ﾘｽﾄ情報(&I)", "toggle" }, { "mnuViewBar1", "-", "" },
                { "mnuViewTime1", "経過時間(&E)", "toggle" },
                { "mnuViewTime2", "残り時間(&C)", "toggle" }, { "mnuViewBar2", "-", "" },
                { "mnuViewVol", "ﾎﾞﾘｭｰﾑ ｺﾝﾄﾛｰﾙ(&V)", "" }, { "mnuViewBar3", "-", "" },
                { "mnuViewLyrics", "歌詞(&K)", "" }, { "mnuViewParts", "ﾊﾟｰﾄ(&P)", "" } },
            { { "mnuRandPlay", "ﾗﾝﾀﾞﾑ(&R)", "toggle" }, { "mnuRenPlay", "連続再生(&C)", "toggle" },
                { "mnuIntoPlay", "ｲﾝﾄﾛ再生(&I)", "toggle" }, { "mnuOptionBar1", "-", "" },
                { "mnuSound", "音源の設定(&S)...", "" } },
            { { "mnuHelpRead", "お読み下さい(&R)", "" }, { "mnuHelpBar", "-", "" },
                { "mnuHelpAbout", "ﾊﾞｰｼﾞｮﾝ情報(&A)", "" } },
        };
        for (int m = 0; m < 4; ++m) {
            const QList<QAction*> actual = menus.at(m)->actions();
            QCOMPARE(actual.size(), items.at(m).size());
            for (int i = 0; i < actual.size(); ++i) {
                const QStringList& e = items.at(m).at(i);
                QAction* a = actual.at(i);
                QCOMPARE(a->objectName(), e.at(0));
                if (e.at(1) == "-") {
                    QVERIFY(a->isSeparator());
                    continue;
                }
                QCOMPARE(a->text(), e.at(1));
                QVERIFY(a->shortcut().isEmpty());
                // Created checked; start-up unchecks the ones that start off.
                QCOMPARE(a->isCheckable(), e.at(2) == "toggle");
                QCOMPARE(a->isChecked(), e.at(2) == "toggle");
            }
        }
    }

    void startUpSetsTheStartStateWithoutTouchingTheDevice()
    {
        Form1& f = *m_form;
        QVERIFY(f.Form_Load());
        for (QPushButton* b : transportButtons(f))
            QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
        QVERIFY(f.Command13->isEnabled());
        QVERIFY(f.Text1->text().isEmpty());
        QVERIFY(f.Label1->text().isEmpty());
        QCOMPARE(f.Label7->text(), QStringLiteral("[00]"));
        QCOMPARE(f.Label3->text(), QStringLiteral("00:00"));
        QCOMPARE(f.Combo1->currentIndex(), -1);
        QVERIFY(!f.Timer1->isActive());
        QCOMPARE(f.Timer1->interval(), 0);

        QVERIFY(f.mnuViewTime1->isChecked());
        QVERIFY(!f.mnuViewTime2->isChecked());
        QVERIFY(!f.mnuRandPlay->isChecked());
        QVERIFY(!f.mnuRenPlay->isChecked());
        QVERIFY(!f.mnuIntoPlay->isChecked());
        QVERIFY(f.mnuViewToolbar->isChecked());
        QVERIFY(f.mnuViewInfo->isChecked());
        QVERIFY(f.toolButton("TimeStart")->isChecked());
        for (const char* key : {"TimeEnd", "RandPlay", "RenPlay", "IntoPlay", "ListEdit"})
            QVERIFY2(!f.toolButton(key)->isChecked(), key);

        QVERIFY2(!QFile::exists(m_log), "start-up sent device commands");
    }

    void tabOrderFollowsTheTabIndices()
    {
        Form1& f = *m_form;
        const QList<QWidget*> expected = {f.Command3, f.Command4, f.Command8, f.Command9,
                                          f.Command6, f.Command11, f.Command12, f.Command13,
                                          f.Combo1};
        QList<QWidget*> walked;
        QWidget* w = f.Command3;
        do {
            if (w->focusPolicy() & Qt::TabFocus)
                walked << w;
            w = w->nextInFocusChain();
        } while (w != f.Command3 && walked.size() < 20);
        QCOMPARE(walked, expected);
    }

    void menuClicksReachProceduresWithTheCheckMarkUnflipped()
    {
        Form1& f = *m_form;
        QVERIFY(f.Form_Load());
        // The toolkit flips a checkable item before reporting the click; the procedure
        // must still see the old state, or a toggle would cancel itself.
        f.mnuRandPlay->trigger();
        QVERIFY(f.mnuRandPlay->isChecked());
        QVERIFY(f.toolButton("RandPlay")->isChecked());
        f.mnuRandPlay->trigger();
        QVERIFY(!f.mnuRandPlay->isChecked());
        QVERIFY(!f.toolButton("RandPlay")->isChecked());

        f.mnuViewTime2->trigger();
        QVERIFY(f.mnuViewTime2->isChecked());
        QVERIFY(!f.mnuViewTime1->isChecked());
    }

    void clicksOnToolbarAndDisplayReachProcedures()
    {
        Form1& f = *m_form;
        QVERIFY(f.Form_Load());
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));

        auto* ren = qobject_cast<QToolButton*>(f.tbToolBar->widgetForAction(f.toolButton("RenPlay")));
        QVERIFY(ren);
        QTest::mouseClick(ren, Qt::LeftButton);
        QVERIFY(f.mnuRenPlay->isChecked());
        QVERIFY(f.toolButton("RenPlay")->isChecked());

        QTest::mouseClick(f.Label7, Qt::LeftButton);
        QVERIFY(f.mnuViewTime2->isChecked());
        QTest::mouseClick(f.Label3, Qt::LeftButton);
        QVERIFY(f.mnuViewTime1->isChecked());
        f.hide();
    }

    void altOOpensTheOptionMenu()
    {
        Form1& f = *m_form;
        QVERIFY(f.Form_Load());
        f.show();
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QTest::keyClick(&f, Qt::Key_O, Qt::AltModifier);
        QTRY_VERIFY(f.mnuOption->isVisible());
        f.mnuOption->close();
        f.hide();
    }

private:
    QTemporaryDir m_dir;
    QString m_log;
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(tst_Form1Layout)
#include "tst_form1_layout.moc"
