// Starts the player window. The program has no command line: it runs in the folder it
// was started from (the playlist editor browses from there).

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

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sequora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Sequora"));
    QGuiApplication::setDesktopFileName(QStringLiteral("sequora"));
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
    return QApplication::exec();
}
