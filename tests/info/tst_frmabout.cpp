// The version-information window: what it shows, how its links look and what a click
// hands to the desktop, and how it closes.

#include "info/ExeURL.h"
#include "info/frmAbout.h"
#include "platform/Shell.h"

#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace sequora::platform;

class tst_frmAbout : public QObject {
    Q_OBJECT

    QStringList m_opened;

private slots:
    void init()
    {
        m_opened.clear();
        setShellOpenHook([this](const QString& target) {
            m_opened << target;
            return true;
        });
    }

    void cleanup()
    {
        setShellOpenHook({});
    }

    void showsTitleAndBuildVersion()
    {
        frmAbout about;
        QCOMPARE(about.windowTitle(), QStringLiteral("Sequoraのﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(about.lblTitle->text(), QStringLiteral("Sequora"));
        const QString expected = QStringLiteral("ﾊﾞｰｼﾞｮﾝ %1.%2.%3")
                                     .arg(SEQUORA_VERSION_MAJOR)
                                     .arg(SEQUORA_VERSION_MINOR)
                                     .arg(SEQUORA_VERSION_PATCH);
        QCOMPARE(about.lblVersion->text(), expected);
        QVERIFY(about.lblTitle->font().bold());
        QVERIFY(!about.lblDisclaimer->text().isEmpty());
        QVERIFY(!about.parent());
        QVERIFY(about.testAttribute(Qt::WA_DeleteOnClose));
    }

    void fixedSizeAndNothingOverlaps()
    {
        frmAbout about;
        QCOMPARE(about.size(), QSize(329, 156));
        QCOMPARE(about.minimumSize(), about.maximumSize());

        const QList<QWidget*> controls = {about.cmdOK, about.picIcon, about.cmdSysInfo,
                                          about.lblDisclaimer, about.lblTitle, about.lblVersion,
                                          about.URL, about.Mail, about.Line1};
        for (QWidget* control : controls) {
            QVERIFY2(about.rect().contains(control->geometry()), qPrintable(control->objectName()));
            for (QWidget* other : controls) {
                if (other != control)
                    QVERIFY2(!control->geometry().intersects(other->geometry()),
                             qPrintable(control->objectName() + QLatin1String(" / ") + other->objectName()));
            }
        }
    }

    void linksLookLikeLinksAndShowTheirWholeText()
    {
        frmAbout about;
        for (QLabel* link : {about.Mail, about.URL}) {
            QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
            QVERIFY(link->font().underline());
            QCOMPARE(link->font().pointSizeF(), 9.75);
            QVERIFY2(link->width() >= link->fontMetrics().horizontalAdvance(link->text()),
                     qPrintable(link->text()));

            // The hand's hot spot sits on its fingertip: opaque there, clear above it.
            const QCursor cursor = link->cursor();
            QCOMPARE(cursor.shape(), Qt::BitmapCursor);
            QCOMPARE(cursor.hotSpot(), QPoint(13, 9));
            const QImage hand = cursor.pixmap().toImage();
            QCOMPARE(hand.size(), QSize(32, 32));
            QCOMPARE(qAlpha(hand.pixel(13, 9)), 255);
            QCOMPARE(qAlpha(hand.pixel(13, 8)), 0);
        }
        QVERIFY(about.Mail->text().startsWith(QLatin1String("mailto:")));
    }

    void clickHandsTheExactCaptionToTheDesktop()
    {
        frmAbout about;
        QTest::mouseClick(about.Mail, Qt::LeftButton);
        QTest::mouseClick(about.URL, Qt::LeftButton);
        QTest::mouseClick(about.URL, Qt::RightButton);
        QCOMPARE(m_opened, (QStringList{about.Mail->text(), about.URL->text()}));

        // Whatever the caption holds goes out untouched.
        about.URL->setText(QStringLiteral(" https://example.org/a b?c=ｶﾅ&d "));
        about.URL_Click();
        QCOMPARE(m_opened.last(), QStringLiteral(" https://example.org/a b?c=ｶﾅ&d "));
    }

    void closesByOkEnterAndEscape_data()
    {
        QTest::addColumn<int>("key"); // 0: click OK
        QTest::newRow("OK") << 0;
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
    }

    void closesByOkEnterAndEscape()
    {
        QFETCH(int, key);
        QPointer<frmAbout> about = new frmAbout();
        about->show();
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QVERIFY(about->cmdOK->isDefault());
        if (key == 0)
            QTest::mouseClick(about->cmdOK, Qt::LeftButton);
        else
            QTest::keyClick(about.data(), Qt::Key(key));
        QTRY_VERIFY(about.isNull());
    }

    void shellExecuteReportsWhetherAHandlerTookTheLink()
    {
        using namespace ExeURL;
        const HWND desktop = GetDesktopWindow();
        QVERIFY(desktop != 0);
        QVERIFY(ShellExecuteA(desktop, QStringLiteral("open"), QStringLiteral("a"), {}, {}, SW_SHOW)
                > kShellErrorLimit);
        // Only opening is offered: another verb reaches no handler.
        QCOMPARE(ShellExecuteA(desktop, QStringLiteral("print"), QStringLiteral("b"), {}, {}, SW_SHOW),
                 SE_ERR_NOASSOC);
        setShellOpenHook([](const QString&) { return false; });
        QCOMPARE(ShellExecuteA(desktop, QStringLiteral("open"), QStringLiteral("c"), {}, {}, SW_SHOW),
                 SE_ERR_NOASSOC);
        QCOMPARE(m_opened, QStringList{QStringLiteral("a")});
    }
};

QTEST_MAIN(tst_frmAbout)
#include "tst_frmabout.moc"
