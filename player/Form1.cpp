#include "player/Form1.h"

#include "info/SongTextLoader.h"
#include "info/frmAbout.h"
#include "info/frmLyrics.h"
#include "info/frmParts.h"
#include "info/frmRead.h"
#include "options/frmSound.h"
#include "platform/Instance.h"
#include "platform/desktop/MessageBox.h"
#include "platform/desktop/Twips.h"
#include "playlist/Form2.h"
#include "sequencer/clsMIDI.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QToolBar>

// The pictures are compiled into the UI library; a static library must register them.
static void initPlayerResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

using sequora::platform::twips;

constexpr int kClientWidthTwips = 4650;
constexpr int kClientHeightTwips = 1980;

const QString kAlreadyRunning = QStringLiteral("既に起動されています");

} // namespace

Form1::Form1()
{
    initPlayerResources();
    setObjectName(QStringLiteral("Form1"));
    m_songTexts = new SongTextLoader(this);
    setWindowTitle(sequora::platform::kAppTitle);
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/sequora-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/sequora-64.png"), QSize(64, 64));
    setWindowIcon(icon);
    // Fixed single border: minimize and close, no maximize.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    buildMenus();
    buildLayout();
    connectEvents();
    // Files and folders dropped anywhere on the window play as from the command line.
    setAcceptDrops(true);

    setClientHeight(twips(kClientHeightTwips));
    layout()->activate(); // the client area has its size before the window is first shown
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

Form1::~Form1()
{
    // The windows kept through the end of the program's event loops (see Form_Unload).
    qDeleteAll(secondaryWindows());
}

void Form1::setClientHeight(int pixels)
{
    const int menuHeight
        = menuBar()->isNativeMenuBar() ? 0 : menuBar()->heightForWidth(twips(kClientWidthTwips));
    setFixedSize(twips(kClientWidthTwips),
        (menuHeight > 0 ? menuHeight : menuBar()->sizeHint().height()) + pixels);
}

bool Form1::Form_Load()
{
    if (sequora::platform::anotherInstanceRunning()) {
        sequora::platform::MsgBox(kAlreadyRunning);
        return false;
    }
    Text1->setText(QString());
    for (QPushButton* button :
        { Command3, Command4, Command6, Command8, Command9, Command11, Command12 })
        button->setEnabled(false);
    mnuViewTime1->setChecked(true);
    mnuViewTime2->setChecked(false);
    mnuIntoPlay->setChecked(false);
    mnuRandPlay->setChecked(false);
    mnuRenPlay->setChecked(false);
    setToolButtonValue(QStringLiteral("TimeStart"), 1);
    setToolButtonValue(QStringLiteral("TimeEnd"), 0);
    setToolButtonValue(QStringLiteral("RandPlay"), 0);
    setToolButtonValue(QStringLiteral("RenPlay"), 0);
    setToolButtonValue(QStringLiteral("IntoPlay"), 0);
    return true;
}

clsMIDI& Form1::device()
{
    if (!m_device)
        m_device = std::make_unique<clsMIDI>();
    return *m_device;
}

void Form1::releaseDevice()
{
    m_device.reset();
}

void Form1::Form_Unload()
{
    if (m_unloading)
        return;
    m_unloading = true;

    device().StopM();
    releaseDevice();

    // Unload: no more monitor runs (they would make a new device).
    Timer1->stop();
    closeAllWindows();
    QCoreApplication::quit();
}

void Form1::closeAllWindows()
{
    // Every window goes with this one, without closing steps of its own: the secondary
    // windows, and any dialog, box or menu still open, whose event loop hiding ends.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window != this)
            window->hide();
    }
    hide();

    // A dialog or box may still be on the stack below this handler, owned by one of the
    // secondary windows. They are deleted only once no event loop runs any more, never
    // under one; until then nothing may delete them on a close.
    const bool loopRunning = QThread::currentThread()->loopLevel() > 0;
    for (QWidget* window : secondaryWindows()) {
        if (loopRunning)
            window->setAttribute(Qt::WA_DeleteOnClose, false);
        else
            delete window;
    }
}

QList<QWidget*> Form1::secondaryWindows() const
{
    QList<QWidget*> windows;
    for (QWidget* window : { static_cast<QWidget*>(m_editor.data()),
             static_cast<QWidget*>(m_about.data()), static_cast<QWidget*>(m_readme.data()),
             static_cast<QWidget*>(m_lyrics.data()), static_cast<QWidget*>(m_sound.data()),
             static_cast<QWidget*>(m_parts.data()) }) {
        if (window != nullptr)
            windows.append(window);
    }
    return windows;
}

void Form1::mnuFileExit_Click()
{
    // Already ending (an exit queued behind a close): a new device would only be
    // stopped and closed again after the closing sequence.
    if (m_unloading)
        return;
    device().StopM();
    releaseDevice();
    // Closing runs Form_Unload, which ends the program.
    close();
}

void Form1::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

QAction* Form1::toolButton(const QString& key) const
{
    if (key.isEmpty())
        return nullptr;
    for (QAction* action : tbToolBar->actions()) {
        if (action->data().toString() == key)
            return action;
    }
    return nullptr;
}

void Form1::setToolButtonValue(const QString& key, int value)
{
    if (QAction* button = toolButton(key))
        button->setChecked(value != 0);
}
