// The read-me window and the text it shows.

#include "info/frmAbout.h"
#include "info/frmRead.h"

#include <QIcon>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

namespace {

// Columns as a fixed-pitch Japanese screen counts them: ASCII and halfwidth katakana
// take one, everything else two.
int columns(const QString& line)
{
    int n = 0;
    for (const QChar ch : line) {
        const ushort code = ch.unicode();
        n += (code < 0x80 || (code >= 0xFF61 && code <= 0xFF9F)) ? 1 : 2;
    }
    return n;
}

constexpr int kMaxColumns = 76;

} // namespace

class tst_frmRead : public QObject {
    Q_OBJECT

private slots:
    void windowShowsTheTextReadOnly()
    {
        frmRead read;
        QCOMPARE(read.windowTitle(), QStringLiteral("お読み下さい"));
        QVERIFY(!read.parent());
        QVERIFY(read.testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(read.size(), QSize(473, 377));
        QCOMPARE(read.minimumSize(), read.maximumSize());
        QCOMPARE(read.Text1->geometry(), read.rect());
        QCOMPARE(read.Text1->toPlainText(), frmRead::document());

        read.show();
        QVERIFY(QTest::qWaitForWindowExposed(&read));
        read.Text1->setFocus();
        QTest::keyClicks(read.Text1, QStringLiteral("xyz"));
        QTest::keyClick(read.Text1, Qt::Key_Delete);
        QCOMPARE(read.Text1->toPlainText(), frmRead::document());

        // The text is longer than the box; the scroll bar reaches its end.
        QScrollBar* bar = read.Text1->verticalScrollBar();
        QVERIFY(bar->isVisible());
        QVERIFY(bar->maximum() > 0);
    }

    void iconIsARedWarningSign()
    {
        frmRead read;
        const QIcon icon = read.windowIcon();
        const QList<QSize> sizes = icon.availableSizes();
        QVERIFY(sizes.contains(QSize(32, 32)));
        QVERIFY(sizes.contains(QSize(16, 16)));
        for (const int side : {32, 16}) {
            const QImage image = icon.pixmap(side, side).toImage();
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
            int red = 0;
            int white = 0;
            for (int y = 0; y < side; ++y) {
                for (int x = 0; x < side; ++x) {
                    const QRgb p = image.pixel(x, y);
                    red += qAlpha(p) == 255 && qRed(p) == 255 && qGreen(p) == 0;
                    white += qAlpha(p) == 255 && qRed(p) == 255 && qGreen(p) == 255 && qBlue(p) == 255;
                }
            }
            QVERIFY2(red > side * side / 4, qPrintable(QString::number(side)));
            QVERIFY2(white > 0 && white < red, qPrintable(QString::number(side)));
        }
    }

    void documentHasItsHeadingsInOrder()
    {
        const QStringList lines = frmRead::document().split(QLatin1Char('\n'));
        QStringList headings;
        for (const QString& line : lines) {
            if (line.startsWith(QStringLiteral("【")))
                headings << line.mid(1, line.indexOf(QStringLiteral("】")) - 1);
        }
        const QStringList expected = {
            QStringLiteral("ソフト名"), QStringLiteral("アーカイブ名"), QStringLiteral("作者"),
            QStringLiteral("対応ＯＳ"), QStringLiteral("公開日"), QStringLiteral("解凍方法"),
            QStringLiteral("種別・転載条件"), QStringLiteral("はじめに"),
            QStringLiteral("インストールと削除"), QStringLiteral("免責"), QStringLiteral("その他"),
            QStringLiteral("謝辞"), QStringLiteral("連絡先"),
        };
        QCOMPARE(headings, expected);
        // The header is framed by lines of "=".
        QVERIFY(lines.first().startsWith(QStringLiteral("=========")));
        QCOMPARE(lines.indexOf(lines.first(), 1) > 1, true);
    }

    void documentFitsAFixedPitchScreen()
    {
        const QString text = frmRead::document();
        QVERIFY(!text.contains(QRegularExpression(QStringLiteral("@[A-Z]+@")))); // all filled in
        QVERIFY(text.endsWith(QLatin1Char('\n')));
        const QStringList lines = text.chopped(1).split(QLatin1Char('\n'));
        QVERIFY2(lines.size() >= 50 && lines.size() <= 70, qPrintable(QString::number(lines.size())));
        for (const QString& line : lines) {
            QVERIFY2(columns(line) <= kMaxColumns, qPrintable(line));
            QVERIFY2(!line.endsWith(QLatin1Char(' ')), qPrintable(line));
        }
    }

    void documentNamesThisBuildAndTheSameContacts()
    {
        const QString text = frmRead::document();
        const QString version = QStringLiteral("%1.%2.%3")
                                    .arg(SEQUORA_VERSION_MAJOR)
                                    .arg(SEQUORA_VERSION_MINOR)
                                    .arg(SEQUORA_VERSION_PATCH);
        QVERIFY(text.contains(QStringLiteral("Sequora バージョン ") + version));

        // Contacts are set to the right: the lines after the last heading end together.
        const QStringList lines = text.split(QLatin1Char('\n'));
        const int contact = lines.indexOf(QRegularExpression(QStringLiteral("^【連絡先】")));
        QVERIFY(contact > 0);
        QStringList block;
        for (int i = contact + 1; i < lines.size() && !lines.at(i).isEmpty(); ++i)
            block << lines.at(i);
        QVERIFY(block.size() >= 3);
        for (const QString& line : block) {
            QVERIFY2(line.startsWith(QStringLiteral("    ")), qPrintable(line));
            QCOMPARE(columns(line), columns(lines.first()));
        }
        const QString joined = block.join(QLatin1Char('\n'));
        QVERIFY(joined.contains(frmAbout::kMailLink.mid(QStringLiteral("mailto:").size())));
        QVERIFY(joined.contains(frmAbout::kWebLink));
    }
};

QTEST_MAIN(tst_frmRead)
#include "tst_frmread.moc"
