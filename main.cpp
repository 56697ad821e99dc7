// Starts the player window, in the folder it was started from (the playlist editor
// browses from there). Files, folders and file: URIs on the command line become the
// Playlist and play; with a player already running they are handed to it instead.

#include "platform/CommandLine.h"
#include "platform/FileNames.h"
#include "platform/Instance.h"
#include "platform/desktop/Fonts.h"
#include "platform/desktop/MessageBox.h"
#include "platform/desktop/QtTranslation.h"
#include "platform/desktop/TerminationSignals.h"
#include "platform/desktop/WindowAccessibility.h"
#include "platform/mci/mci.h"
#include "player/Form1.h"
#include "player/MprisBridge.h"

#include <QApplication>
#include <QDBusConnection>
#include <QTimer>

#include <cstdio>

namespace {

constexpr double kUiPointSize = 9;
// A second start whose player went away before taking its files tries to become the
// player itself this many times.
constexpr int kClaimAttempts = 3;

// Test aid: with SEQUORA_TEST_AUTOCLOSE_MESSAGES=1 a message goes to standard error
// instead of a box that waits for a click, so that a test can run the program headless
// and read what it said.
void printMessagesWhenTesting()
{
    if (qEnvironmentVariableIntValue("SEQUORA_TEST_AUTOCLOSE_MESSAGES") != 1)
        return;
    sequora::platform::setMessageBoxHook([](const QString& text, const QString& caption) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
        std::fflush(stderr);
    });
}

// Whether this start goes on as the player: false once its files have been handed to
// the player that runs. A start that finds a player and has no files goes on, and its
// start-up says the player is running already.
bool becomesPlayer(sequora::platform::InstanceService& instance, const QDBusConnection& bus,
    const QList<QByteArray>& args, const QByteArray& folder)
{
    using sequora::platform::InstanceService;
    for (int attempt = 1;; ++attempt) {
        if (instance.claim(bus) || !instance.otherOnBus() || !sequora::platform::namesFiles(args))
            return true;
        if (InstanceService::handOver(bus, args, folder))
            return false;
        if (attempt == kClaimAttempts)
            return true;
        instance.reconsider();
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sequora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Sequora"));
    QGuiApplication::setDesktopFileName(QStringLiteral("sequora"));

    // The arguments as bytes, so that a name in any code page reaches its file. Qt has
    // taken its own options out of argv by now.
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args.append(QByteArray(argv[i]));
    const QByteArray folder = sequora::platform::currentFolder();
    // Without a session bus the player runs as before, the lock file its only guard.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    sequora::platform::InstanceService instance;
    if (!becomesPlayer(instance, bus, args, folder))
        return 0;

    // The open dialog and the standard buttons speak Japanese like the rest.
    sequora::platform::installQtTranslation();
    // The windows are laid out for a 9-point Japanese Gothic, the desktop font they
    // were designed with; the default face may lack halfwidth katakana.
    const QFont uiFont = sequora::platform::pGothicFont(kUiPointSize);
    QApplication::setFont(uiFont);
    for (const char* kind : {"QMenuBar", "QMenu", "QToolTip", "QMessageBox"})
        QApplication::setFont(uiFont, kind);
    printMessagesWhenTesting();
    sequora::platform::installWindowAccessibility();

    Form1 form;
    QApplication::setWindowIcon(form.windowIcon());
    if (!form.Form_Load())
        return 0;
    form.show();
    // A second start's files: in front, and played as if given here.
    QObject::connect(&instance, &sequora::platform::InstanceService::filesArrived, &form,
        [&form](const QList<QByteArray>& given, const QByteArray& from) {
            form.bringToFront();
            form.openSongs(sequora::platform::readArguments(given, from));
        });
    // A logout or Ctrl+C stops and closes the device like the close box, so no note is
    // left sounding on a synthesizer behind a sequencer port.
    sequora::platform::closeOnTerminationSignals(form);
    // Media keys and the desktop's media controls; without a session bus the player
    // simply goes without them.
    MprisBridge mpris(form);
    mpris.attach(QDBusConnection::sessionBus());
    // Once the window is up: the sound output starts and its soundfont loads in the
    // background while the playlist is chosen, so the first song plays at once.
    QTimer::singleShot(0, [] { sequora::platform::prepareSequencer(); });
    // From inside the event loop, so that a box about what was skipped, and a close
    // while it is up, run as they do later.
    QTimer::singleShot(0, &form, [&form, request = sequora::platform::readArguments(args, folder)] {
        form.openSongs(request);
    });
    return QApplication::exec();
}
