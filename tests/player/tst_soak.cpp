// Every window of the program driven at random: clicks, double clicks, keys and the
// actions a screen reader runs, on whatever is showing and enabled, message boxes and
// the open dialog included; only the program's own closing is left out. At the end the
// program must still answer, and close as it always does. The run is fixed by its seed
// and length, printed first: SEQUORA_SOAK_SEED and SEQUORA_SOAK_STEPS replay it.

#include "PlayerTestKit.h"

#include "info/frmAbout.h"
#include "info/frmRead.h"
#include "platform/Shell.h"
#include "playlist/EditorTestKit.h"
#include "playlist/Form2.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMap>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <random>

using namespace sequora::test;

namespace {

constexpr quint32 kDefaultSeed = 20261208;
constexpr int kDefaultSteps = 1500;
constexpr int kStepIntervalMs = 2;
// Far beyond what a run needs, even under the sanitizers.
constexpr int kGiveUpBaseMs = 30000;
constexpr int kGiveUpPerStepMs = 40;
constexpr int64_t kSongUnits = 30;

const QList<std::pair<Qt::Key, Qt::KeyboardModifiers>> kKeys = {
    { Qt::Key_Tab, Qt::NoModifier },
    { Qt::Key_Backtab, Qt::ShiftModifier },
    { Qt::Key_Return, Qt::NoModifier },
    { Qt::Key_Space, Qt::NoModifier },
    { Qt::Key_Escape, Qt::NoModifier },
    { Qt::Key_Up, Qt::NoModifier },
    { Qt::Key_Down, Qt::NoModifier },
    { Qt::Key_Left, Qt::NoModifier },
    { Qt::Key_Right, Qt::NoModifier },
    { Qt::Key_Home, Qt::NoModifier },
    { Qt::Key_End, Qt::NoModifier },
    { Qt::Key_A, Qt::AltModifier },
    { Qt::Key_B, Qt::AltModifier },
    { Qt::Key_C, Qt::AltModifier },
    { Qt::Key_D, Qt::AltModifier },
    { Qt::Key_E, Qt::AltModifier },
    { Qt::Key_F, Qt::AltModifier },
    { Qt::Key_H, Qt::AltModifier },
    { Qt::Key_O, Qt::AltModifier },
    { Qt::Key_S, Qt::AltModifier },
    { Qt::Key_T, Qt::AltModifier },
    { Qt::Key_V, Qt::AltModifier },
};

quint32 envNumber(const char* name, quint32 fallback)
{
    bool ok = false;
    const quint32 value = qEnvironmentVariable(name).toUInt(&ok);
    return ok ? value : fallback;
}

void collect(QAccessibleInterface* object, QList<QAccessibleInterface*>& into, int depth = 0)
{
    if (object == nullptr || depth > 8)
        return;
    into << object;
    for (int i = 0; i < object->childCount(); ++i)
        collect(object->child(i), into, depth + 1);
}

} // namespace

class tst_Soak : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = m_dir.filePath(QStringLiteral("mci.log"));
        qputenv("SEQUORA_MCI_LOG", QFile::encodeName(m_log));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("sub")));
        for (const char* name : { "one.mid", "two.mid", "three.MID", "sub/four.mid" })
            writeSong(m_dir, QString::fromUtf8(name), kSongUnits);
        // As with a screen reader on the desktop: the windows keep Qt's accessible view
        // of their lists up to date as they change.
        QAccessible::setActive(true);
        // Nothing outside is started or opened: the links and the mixer only "fail".
        sequora::platform::setStartProgramHook(
            [](const QString&, const QStringList&) { return false; });
        sequora::platform::setShellOpenHook([](const QString&) { return false; });
    }

    void randomCommandsOnEveryWindow();

private:
    void step();
    QWidget* pickWindow();
    void click(QWidget& window, bool twice);
    void key(QWidget& window);
    void accessibleAction(QWidget& window);
    bool excluded(const QAccessibleInterface& object) const;
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    QTemporaryDir m_dir { QDir::tempPath() + QStringLiteral("/soak-XXXXXX") };
    QString m_log;
    std::unique_ptr<Form1> m_form;
    std::mt19937 m_random;
    QMap<QString, int> m_reached;
};

void tst_Soak::randomCommandsOnEveryWindow()
{
    const quint32 seed = envNumber("SEQUORA_SOAK_SEED", kDefaultSeed);
    const int steps = int(envNumber("SEQUORA_SOAK_STEPS", kDefaultSteps));
    qInfo("soak: seed %u, %d steps (replay with SEQUORA_SOAK_SEED=%u SEQUORA_SOAK_STEPS=%d)", seed,
        steps, seed, steps);
    m_random.seed(seed);

    const CurrentFolderGuard folder;
    QDir::setCurrent(m_dir.path());
    m_form = std::make_unique<Form1>();
    Form1& form = *m_form;
    QVERIFY(form.Form_Load());
    form.show();
    // The program's own closing is the one thing left out.
    form.mnuFileExit->setVisible(false);

    int done = 0;
    bool hung = false;
    QTimer driver;
    connect(&driver, &QTimer::timeout, this, [&] {
        if (done < steps) {
            // Queued: a step that opens a box runs that box's loop, and this timer must
            // go on firing inside it.
            ++done;
            QMetaObject::invokeMethod(this, &tst_Soak::step, Qt::QueuedConnection);
            return;
        }
        // The run is over: end every box, dialog and menu still up, so that their
        // loops return, then close as the exit item does.
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window != &form && window->isVisible()
                && (window->isModal() || window->windowType() == Qt::Popup))
                window->hide();
        }
        if (QThread::currentThread()->loopLevel() > 1)
            return;
        driver.stop();
        form.mnuFileExit->setVisible(true);
        form.mnuFileExit_Click();
    });
    QTimer::singleShot(kGiveUpBaseMs + steps * kGiveUpPerStepMs, this, [&] {
        hung = true;
        QCoreApplication::exit(1);
    });
    QElapsedTimer took;
    took.start();
    driver.start(kStepIntervalMs);
    const int rc = QApplication::exec();
    qInfo("soak: %d steps in %lld ms", done, took.elapsed());
    for (auto it = m_reached.cbegin(); it != m_reached.cend(); ++it)
        qInfo("soak: %d steps on a %s", it.value(), qPrintable(it.key()));

    QVERIFY2(!hung, qPrintable(QStringLiteral("stuck after %1 steps").arg(done)));
    QCOMPARE(done, steps);
    QCOMPARE(rc, 0);
    QVERIFY(form.unloading());
    for (const QWidget* window : QApplication::topLevelWidgets())
        QVERIFY2(!window->isVisible(), qPrintable(window->windowTitle()));
    // The closing sequence is the last thing the device was told.
    const QList<QByteArray> sent = loggedCommands(m_log);
    QVERIFY(sent.size() >= 2);
    QCOMPARE(sent.mid(sent.size() - 2), (QList<QByteArray> { "stop midifile ", "close midifile" }));

    QPointer<Form2> editor = form.editor();
    QPointer<frmAbout> about = form.aboutWindow();
    QPointer<frmRead> readme = form.readmeWindow();
    m_form.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(editor.isNull() && about.isNull() && readme.isNull());
}

void tst_Soak::step()
{
    QWidget* window = pickWindow();
    if (window == nullptr)
        return;
    ++m_reached[QString::fromLatin1(window->metaObject()->className())];
    // The open dialog works on the files themselves: the soak only ever reads them, and
    // only its own (a folder full of devices or kernel files takes minutes to type).
    if (auto* dialog = qobject_cast<QFileDialog*>(window)) {
        dialog->setOption(QFileDialog::ReadOnly);
        dialog->setSidebarUrls({ QUrl::fromLocalFile(m_dir.path()) });
        if (!dialog->directory().absolutePath().startsWith(m_dir.path()))
            dialog->setDirectory(m_dir.path());
    }
    switch (below(4)) {
    case 0:
        click(*window, false);
        break;
    case 1:
        click(*window, below(3) == 0);
        break;
    case 2:
        key(*window);
        break;
    default:
        accessibleAction(*window);
        break;
    }
}

QWidget* tst_Soak::pickWindow()
{
    QWidgetList shown;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->windowHandle() != nullptr)
            shown << window;
    }
    // Sorted so that a seed picks the same window whatever order Qt lists them in.
    std::sort(shown.begin(), shown.end(), [](const QWidget* a, const QWidget* b) {
        return std::make_pair(QString::fromLatin1(a->metaObject()->className()), a->windowTitle())
            < std::make_pair(QString::fromLatin1(b->metaObject()->className()), b->windowTitle());
    });
    return shown.isEmpty() ? nullptr : shown.at(below(int(shown.size())));
}

void tst_Soak::click(QWidget& window, bool twice)
{
    QWidgetList targets { &window };
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (w->isVisible() && w->isEnabled() && w->window() == &window && !w->rect().isEmpty())
            targets << w;
    }
    QWidget* target = targets.at(below(int(targets.size())));
    const QRect area = target->rect();
    const QPoint at(area.left() + below(area.width()), area.top() + below(area.height()));
    // Through the window, as the desktop delivers it: modality applies.
    const QPoint inWindow = target->mapTo(&window, at);
    QWindow* handle = window.windowHandle();
    if (twice)
        QTest::mouseDClick(handle, Qt::LeftButton, {}, inWindow);
    else
        QTest::mouseClick(handle, Qt::LeftButton, {}, inWindow);
}

void tst_Soak::key(QWidget& window)
{
    const auto [key, modifiers] = kKeys.at(below(int(kKeys.size())));
    // Keys go where the desktop sends them: the window that has the focus.
    QWindow* to = QGuiApplication::focusWindow() != nullptr ? QGuiApplication::focusWindow()
                                                            : window.windowHandle();
    QTest::keyClick(to, key, modifiers);
}

bool tst_Soak::excluded(const QAccessibleInterface& object) const
{
    // The program's own closing: its exit item.
    return m_form != nullptr && object.role() == QAccessible::MenuItem
        && object.text(QAccessible::Name) == m_form->mnuFileExit->text().remove(QLatin1Char('&'));
}

void tst_Soak::accessibleAction(QWidget& window)
{
    QList<QAccessibleInterface*> objects;
    collect(QAccessible::queryAccessibleInterface(&window), objects);
    QList<QAccessibleInterface*> offering;
    for (QAccessibleInterface* object : objects) {
        QAccessibleActionInterface* actions = object->actionInterface();
        if (actions != nullptr && !actions->actionNames().isEmpty() && !object->state().disabled
            && !excluded(*object))
            offering << object;
    }
    if (offering.isEmpty())
        return;
    QAccessibleInterface* object = offering.at(below(int(offering.size())));
    const QStringList names = object->actionInterface()->actionNames();
    object->actionInterface()->doAction(names.at(below(int(names.size()))));
}

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
