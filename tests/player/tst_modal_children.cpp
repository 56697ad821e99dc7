// Every window under its own modal child (the open dialog, a message box): each of its
// controls pressed through the accessibility action a screen reader uses does nothing
// and is reported as not enabled, and the child still works and closes normally. And a
// window closed from inside a loop it started is hidden at once and deleted only once
// that loop has returned.

#include "PlayerTestKit.h"

#include "info/frmAbout.h"
#include "info/frmRead.h"
#include "platform/Shell.h"
#include "platform/desktop/ModalChildScope.h"
#include "playlist/EditorTestKit.h"
#include "playlist/Form2.h"
#include "playlist/ListBox.h"
#include "playlist/modCmOpen.h"

#include <QAccessible>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QTest>

#include <functional>
#include <memory>

using namespace sequora::test;

namespace {

// Qt's accessible press of a button is an animated click, 100 ms long.
constexpr int kClickLandsMs = 300;

template <typename Window> Window* shown()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* w = qobject_cast<Window*>(window); w != nullptr && w->isVisible())
            return w;
    }
    return nullptr;
}

// The modal child up now: a message box before the open dialog, which may own one.
QDialog* modalChild()
{
    if (QMessageBox* box = shown<QMessageBox>())
        return box;
    return shown<QFileDialog>();
}

// Everything a screen reader finds in the window, its menus' items included.
void collect(QAccessibleInterface* object, QList<QAccessibleInterface*>& into, int depth = 0)
{
    if (object == nullptr || depth > 8)
        return;
    into << object;
    for (int i = 0; i < object->childCount(); ++i)
        collect(object->child(i), into, depth + 1);
}

QString describe(QAccessibleInterface* object)
{
    return object->text(QAccessible::Name) + QLatin1Char('/')
        + QString::number(int(object->role()), 16);
}

// Runs every action each object offers, and a press on each whether offered or not;
// returns the objects that still reported themselves enabled.
QStringList pressEverything(QWidget& window)
{
    QList<QAccessibleInterface*> objects;
    collect(QAccessible::queryAccessibleInterface(&window), objects);
    QStringList enabled;
    for (QAccessibleInterface* object : objects) {
        QAccessibleActionInterface* actions = object->actionInterface();
        if (actions == nullptr || object->object() == &window)
            continue;
        const QAccessible::Role role = object->role();
        const bool command = role == QAccessible::PushButton || role == QAccessible::MenuItem
            || role == QAccessible::ButtonMenu || role == QAccessible::CheckBox;
        if (command && !object->state().disabled)
            enabled << describe(object);
        QStringList names = actions->actionNames();
        if (command && !names.contains(QAccessibleActionInterface::pressAction()))
            names << QAccessibleActionInterface::pressAction();
        for (const QString& name : names)
            actions->doAction(name);
    }
    return enabled;
}

// Presses the dialog's button through its accessibility action, as a user of a screen
// reader closes it.
void pressButton(QAbstractButton* button)
{
    QVERIFY(button != nullptr);
    QAccessibleInterface* object = QAccessible::queryAccessibleInterface(button);
    QVERIFY(object != nullptr && object->actionInterface() != nullptr);
    object->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

void closeNormally(QDialog* child)
{
    if (auto* box = qobject_cast<QMessageBox*>(child)) {
        pressButton(box->button(QMessageBox::Ok));
        return;
    }
    auto* buttons = child->findChild<QDialogButtonBox*>();
    QVERIFY(buttons != nullptr);
    pressButton(buttons->button(QDialogButtonBox::Cancel));
}

// The enabled state of every control and menu item of the window, each kept by pointer
// so that only those that were there before are compared afterwards.
QList<std::pair<QPointer<QObject>, bool>> enabledStates(const QWidget& window)
{
    QList<std::pair<QPointer<QObject>, bool>> states;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isWindow() || w->windowType() == Qt::Popup)
            states.append({ w, w->isEnabled() });
    }
    for (QAction* a : window.findChildren<QAction*>())
        states.append({ a, a->isEnabled() });
    return states;
}

QStringList changedStates(const QList<std::pair<QPointer<QObject>, bool>>& before)
{
    QStringList changed;
    for (const auto& [object, enabled] : before) {
        if (object == nullptr)
            continue;
        const auto* widget = qobject_cast<QWidget*>(object);
        const auto* action = qobject_cast<QAction*>(object);
        const bool now = widget != nullptr ? widget->isEnabled() : action->isEnabled();
        if (now != enabled)
            changed << (widget != nullptr ? widget->objectName() : action->text());
    }
    return changed;
}

} // namespace

class tst_ModalChildren : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_log = logInto(m_dir);
        m_song = writeSong(m_dir, QStringLiteral("song.mid"), 600);
        // Nothing is started or opened: the mixer item finds none and shows its box.
        sequora::platform::setStartProgramHook([this](const QString& program, const QStringList&) {
            m_started << program;
            return false;
        });
        sequora::platform::setShellOpenHook([this](const QString& target) {
            m_started << target;
            return false;
        });
    }

    void cleanupTestCase()
    {
        sequora::platform::setStartProgramHook({});
        sequora::platform::setShellOpenHook({});
    }

    void init()
    {
        m_form = std::make_unique<Form1>();
        QVERIFY(m_form->Form_Load());
        m_form->show();
        // The empty second entry gives the player's own box.
        setPlaylist(*m_form, { m_song, QString() });
        m_started.clear();
    }

    void cleanup()
    {
        modCmOpen::setOpenDialogHook({});
        m_form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void ownerTakesNoCommandUnderItsModalChild_data();
    void ownerTakesNoCommandUnderItsModalChild();
    void closedUnderItsOwnLoop_data();
    void closedUnderItsOwnLoop();

private:
    // What the windows and the device show: any command that got through changes it.
    QStringList fingerprint() const
    {
        Form1& form = *m_form;
        QStringList print;
        for (const QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible())
                print << QStringLiteral("window ") + w->windowTitle();
        }
        print.sort();
        for (int i = 0; i < form.Combo1->count(); ++i)
            print << form.Combo1->itemText(i);
        print << QString::number(form.Combo1->currentIndex()) << form.Text1->text()
              << form.Label7->text() << QString::number(form.height());
        for (const QAction* a : form.findChildren<QAction*>())
            print << a->text() + QString::number(a->isChecked());
        if (form.editor() != nullptr) {
            print << form.editor()->PlayList->entries();
            print << QString::number(form.editor()->PlayList->listIndex());
        }
        for (const QByteArray& command : loggedCommands(m_log)) {
            if (!command.startsWith("status "))
                print << QString::fromLatin1(command);
        }
        print << m_started;
        return print;
    }

    struct Case {
        std::function<QWidget*()> owner;
        std::function<void()> open;
    };
    Case modalCase(const QString& name);

    QTemporaryDir m_dir;
    QString m_log;
    QString m_song;
    QStringList m_started;
    std::unique_ptr<Form1> m_form;
};

// How each window with a modal child opens it, and which window owns it.
tst_ModalChildren::Case tst_ModalChildren::modalCase(const QString& name)
{
    Form1& form = *m_form;
    if (name == "editor, open dialog")
        return { [&] { return form.editor().data(); }, [&] { form.editor()->Command6->click(); } };
    if (name == "editor, playlist full") {
        return { [&] { return form.editor().data(); },
            [&] {
                Form2& editor = *form.editor();
                editor.PlayList->addItems(
                    QStringList(Form2::kMaxEntries - editor.PlayList->count(), m_song));
                modCmOpen::setOpenDialogHook(
                    [&](QWidget*, const QString&, const QString&) { return m_song; });
                editor.Command6->click();
            } };
    }
    if (name == "version window, system information")
        return { [&] { return form.aboutWindow().data(); },
            [&] { form.aboutWindow()->cmdSysInfo->click(); } };
    if (name == "player, unexpected error")
        return { [&] { return static_cast<QWidget*>(&form); }, [&] { form.selectEntry(1); } };
    return { [&] { return static_cast<QWidget*>(&form); }, [&] { form.mnuViewVol->trigger(); } };
}

void tst_ModalChildren::ownerTakesNoCommandUnderItsModalChild_data()
{
    QTest::addColumn<QString>("child");
    for (const char* child : { "editor, open dialog", "editor, playlist full",
             "version window, system information", "player, unexpected error", "player, no mixer" })
        QTest::newRow(child) << QString::fromLatin1(child);
}

void tst_ModalChildren::ownerTakesNoCommandUnderItsModalChild()
{
    QFETCH(QString, child);
    const CurrentFolderGuard folder;
    QDir::setCurrent(m_dir.path());
    Form1& form = *m_form;
    // Every window is open, so a command that got through would have somewhere to go.
    openEditor(form);
    form.mnuHelpRead_Click();
    form.mnuHelpAbout_Click();
    const Case c = modalCase(child);
    QPointer<QWidget> owner = c.owner();
    QVERIFY(owner != nullptr);
    const auto enabledBefore = enabledStates(*owner);

    bool returned = false;
    QStringList before;
    QStringList after;
    QStringList reportedEnabled;
    bool childWorks = false;
    QPointer<QDialog> upNow;
    QStringList strays;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        QDialog* dialog = modalChild();
        if (dialog == nullptr)
            return;
        poll.stop();
        upNow = dialog;
        before = fingerprint();
        reportedEnabled = pressEverything(*owner);
        // A button's press lands a moment later, as an animated click.
        QTest::qWait(kClickLandsMs);
        after = fingerprint();
        // The child itself goes on working.
        childWorks = !returned && modalChild() == dialog && dialog->isEnabled();
        closeNormally(dialog);
        childWorks = childWorks && QTest::qWaitFor([&] { return !dialog->isVisible(); });
        upNow = nullptr;
    });
    poll.start(10);
    // A press that got through may open a child of its own: shut it, and count it.
    QTimer stray;
    connect(&stray, &QTimer::timeout, this, [&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (!before.isEmpty() && window != upNow && window->isVisible() && window->isModal()) {
                strays << window->windowTitle() + QLatin1Char('/')
                        + window->metaObject()->className();
                window->hide();
            }
        }
    });
    stray.start(20);
    QEventLoop outer;
    QTimer::singleShot(0, this, [&] {
        c.open();
        returned = true;
        outer.quit();
    });
    QTimer::singleShot(10000, &outer, &QEventLoop::quit);
    outer.exec();

    QVERIFY2(!before.isEmpty(), "the child never opened");
    QVERIFY2(returned, "the child did not close");
    QCOMPARE(reportedEnabled, QStringList());
    QVERIFY2(
        strays.isEmpty(), qPrintable(QStringLiteral("opened: ") + strays.join(QLatin1Char(','))));
    QCOMPARE(after, before);
    QVERIFY(childWorks);
    QVERIFY(owner != nullptr && owner->isVisible());
    QVERIFY(!sequora::platform::runsModalChild(*owner));
    // Afterwards every control and item is as enabled as it was before.
    QCOMPARE(changedStates(enabledBefore), QStringList());
}

void tst_ModalChildren::closedUnderItsOwnLoop_data()
{
    QTest::addColumn<QString>("child");
    QTest::addColumn<QString>("how");
    for (const char* child :
        { "editor, open dialog", "editor, playlist full", "version window, system information" }) {
        for (const char* how : { "its own procedure", "close" })
            QTest::addRow("%s, %s", child, how)
                << QString::fromLatin1(child) << QString::fromLatin1(how);
    }
    QTest::addRow("editor, open dialog's own box, close")
        << QStringLiteral("editor, open dialog's own box") << QStringLiteral("close");
}

void tst_ModalChildren::closedUnderItsOwnLoop()
{
    QFETCH(QString, child);
    QFETCH(QString, how);
    const CurrentFolderGuard folder;
    QDir::setCurrent(m_dir.path());
    Form1& form = *m_form;
    openEditor(form);
    form.mnuHelpAbout_Click();
    const bool dialogsBox = child == "editor, open dialog's own box";
    const Case c = modalCase(dialogsBox ? QStringLiteral("editor, open dialog") : child);
    QPointer<QWidget> owner = c.owner();
    QVERIFY(owner != nullptr);

    bool returned = false;
    bool asked = false;
    bool closed = false;
    bool aliveAfterReturn = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        QDialog* dialog = modalChild();
        if (dialogsBox && qobject_cast<QMessageBox*>(dialog) == nullptr) {
            // A name that is not there makes the dialog warn from a box of its own.
            if (auto* dialog = shown<QFileDialog>(); dialog != nullptr && !asked) {
                asked = true;
                if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    name->setText(QStringLiteral("no such song.mid"));
                QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
            }
            return;
        }
        if (dialog == nullptr)
            return;
        poll.stop();
        if (how == "close")
            owner->close();
        else if (auto* editor = qobject_cast<Form2*>(owner))
            editor->Command3_Click();
        else
            qobject_cast<frmAbout*>(owner)->cmdOK_Click();
        closed = true;
        // Out of sight at once, but still there: its procedure is below on the stack.
        QVERIFY(owner != nullptr);
        QVERIFY(!owner->isVisible());
    });
    poll.start(10);
    QEventLoop outer;
    QTimer::singleShot(0, this, [&] {
        c.open();
        returned = true;
        aliveAfterReturn = owner != nullptr;
        outer.quit();
    });
    QTimer::singleShot(10000, &outer, &QEventLoop::quit);
    outer.exec();

    QVERIFY2(closed, "the child never opened");
    // Its modal children ended with it, so the procedure that ran them returned.
    QVERIFY2(returned, "the loop went on after its window had closed");
    QVERIFY(aliveAfterReturn);
    QCOMPARE(modalChild(), nullptr);
    QTRY_VERIFY(owner == nullptr);
    // The player goes on and can open the window anew.
    if (child.startsWith("editor")) {
        QVERIFY(form.editor() == nullptr);
        QVERIFY(openEditor(form).isVisible());
    } else {
        QVERIFY(form.aboutWindow() == nullptr);
        form.mnuHelpAbout_Click();
        QVERIFY(form.aboutWindow() != nullptr && form.aboutWindow()->isVisible());
    }
}

QTEST_MAIN(tst_ModalChildren)
#include "tst_modal_children.moc"
