// The real program on a private desktop, its buttons pressed over AT-SPI as a screen
// reader's user presses them, while a window's own modal child is up: the editor's OK
// and Cancel under its open dialog, the version window's OK under its system-information
// box. They are reported not enabled, do nothing, the program lives on and the child
// closes normally; at the end the exit item ends the program with exit code 0.

#include "DesktopSession.h"
#include "PlayerTestKit.h"

using namespace sequora::test;

namespace {

const QString kPlayerCaption = QStringLiteral("Sequora");
const QString kEditorCaption = QStringLiteral("Sequora : リストの編集");
const QString kAboutCaption = QStringLiteral("Sequoraのﾊﾞｰｼﾞｮﾝ情報");
const QString kOpenCaption = QStringLiteral("開く");
const QString kButton = QStringLiteral("push button");
constexpr uint kStateEnabled = 8; // AT-SPI state bit
constexpr int kWaitMs = 10000;
// Longer than Qt's animated click, after which a press that got through would show.
constexpr int kPressLandsMs = 600;

} // namespace

class tst_DesktopModal : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QStringList missing = DesktopSession::missingTools();
        if (!missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("not installed: ") + missing.join(QLatin1Char(' '))));
        if (!QFileInfo::exists(DesktopSession::program()))
            QSKIP("the sequora program is not built next to the tests");
        QVERIFY(m_songs.isValid() && m_work.isValid());
        writeSong(m_songs, QStringLiteral("song.mid"), 100);
        const QString why = m_desktop.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        // Real boxes: the system-information box must be there to be under.
        QVERIFY2(
            m_desktop.startPlayer(m_songs.path(), m_work.filePath(QStringLiteral("mci.log")), true),
            m_desktop.player().readAllStandardError().constData());
        m_window = m_desktop.window(kPlayerCaption).value();
    }

    void editorButtonsUnderItsOpenDialog_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("Cancel") << QStringLiteral("ｷｬﾝｾﾙ");
        QTest::newRow("OK") << QStringLiteral("OK");
    }

    void editorButtonsUnderItsOpenDialog()
    {
        QFETCH(QString, button);
        QVERIFY(press(m_window, QStringLiteral("再生ﾘｽﾄの編集")));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.window(kEditorCaption), kWaitMs);
        const Accessible editor = m_desktop.window(kEditorCaption).value();
        QVERIFY(press(editor, QStringLiteral("指定して開く(O)")));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.window(kOpenCaption), kWaitMs);

        const std::optional<Accessible> target = m_desktop.findNamed(editor, kButton, button);
        QVERIFY(target);
        const bool reportedEnabled = m_desktop.states(*target) & (1u << kStateEnabled);
        m_desktop.press(*target);
        QTest::qWait(kPressLandsMs);

        QCOMPARE(m_desktop.player().state(), QProcess::Running);
        QVERIFY2(!reportedEnabled, "reported as enabled");
        QVERIFY(m_desktop.window(kEditorCaption));
        const std::optional<Accessible> dialog = m_desktop.window(kOpenCaption);
        QVERIFY2(dialog, "the open dialog went away");
        // The dialog still works: its Cancel closes it, and the editor takes commands again.
        QVERIFY(press(*dialog, QStringLiteral("キャンセル")));
        QTRY_VERIFY_WITH_TIMEOUT(!m_desktop.window(kOpenCaption), kWaitMs);
        QVERIFY(m_desktop.window(kEditorCaption));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.states(*target) & (1u << kStateEnabled), kWaitMs);
        QCOMPARE(m_desktop.player().state(), QProcess::Running);
    }

    void versionWindowOkUnderItsSystemInformationBox()
    {
        QVERIFY(pressItem(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(A)")));
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.window(kAboutCaption), kWaitMs);
        const Accessible about = m_desktop.window(kAboutCaption).value();
        QVERIFY(press(about, QStringLiteral("ｼｽﾃﾑ情報(S)...")));
        QTRY_VERIFY_WITH_TIMEOUT(box(), kWaitMs);

        const std::optional<Accessible> ok
            = m_desktop.findNamed(about, kButton, QStringLiteral("OK"));
        QVERIFY(ok);
        const bool reportedEnabled = m_desktop.states(*ok) & (1u << kStateEnabled);
        m_desktop.press(*ok);
        QTest::qWait(kPressLandsMs);

        QCOMPARE(m_desktop.player().state(), QProcess::Running);
        QVERIFY2(!reportedEnabled, "reported as enabled");
        QVERIFY(m_desktop.window(kAboutCaption));
        const std::optional<Accessible> shown = box();
        QVERIFY2(shown, "the box went away");
        QVERIFY(press(*shown, QStringLiteral("OK")));
        QTRY_VERIFY_WITH_TIMEOUT(!box(), kWaitMs);
        // Its OK works again once the box has gone.
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.states(*ok) & (1u << kStateEnabled), kWaitMs);
        QVERIFY(m_desktop.press(*ok));
        QTRY_VERIFY_WITH_TIMEOUT(!m_desktop.window(kAboutCaption), kWaitMs);
    }

    void exitItemEndsWithZero()
    {
        // The reply may not come back: the program is ending.
        pressItem(QStringLiteral("Sequoraの終了(X)"));
        QVERIFY(m_desktop.player().waitForFinished(kWaitMs));
        QCOMPARE(m_desktop.player().exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_desktop.player().exitCode(), 0);
    }

private:
    bool press(const Accessible& window, const QString& name)
    {
        const std::optional<Accessible> button = m_desktop.findNamed(window, kButton, name);
        return button && m_desktop.press(*button);
    }

    bool pressItem(const QString& name)
    {
        const std::optional<Accessible> item
            = m_desktop.findNamed(m_window, QStringLiteral("menu item"), name);
        return item && m_desktop.press(*item);
    }

    // The program's message box: captioned like the player window, but not a frame.
    std::optional<Accessible> box()
    {
        for (const Accessible& w : m_desktop.windows()) {
            if (m_desktop.name(w) == kPlayerCaption
                && m_desktop.roleName(w) != QStringLiteral("frame"))
                return w;
        }
        return std::nullopt;
    }

    QTemporaryDir m_songs;
    QTemporaryDir m_work;
    DesktopSession m_desktop;
    Accessible m_window;
};

QTEST_MAIN(tst_DesktopModal)
#include "tst_desktop_modal.moc"
