#include "platform/desktop/TerminationSignals.h"

#include <QObject>
#include <QSocketNotifier>
#include <QWidget>

#include <array>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace sequora::platform {

namespace {

constexpr std::array kSignals { SIGTERM, SIGINT, SIGHUP };

// The handler may only write to a pipe; the event loop reads it and closes the window.
int g_wake[2] = { -1, -1 };
std::array<struct sigaction, kSignals.size()> g_before {};

void restoreSignals()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &g_before[i], nullptr);
}

void onTerminationSignal(int signal)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_wake[1], &byte, 1);
    // Should the closing hang, the next signal is not caught.
    ::signal(signal, SIG_DFL);
    errno = savedErrno;
}

} // namespace

bool closeOnTerminationSignals(QWidget& window)
{
    if (g_wake[0] < 0 && ::pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;

    auto* notifier = new QSocketNotifier(g_wake[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[16];
        while (::read(g_wake[0], bytes, sizeof bytes) > 0) {
        }
        window.close();
    });
    QObject::connect(&window, &QObject::destroyed, [] { restoreSignals(); });

    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        struct sigaction current {};
        ::sigaction(kSignals[i], nullptr, &current);
        // Routed already (to a window before this one): what was there before stays saved.
        if (current.sa_handler != onTerminationSignal)
            g_before[i] = current;
        if (g_before[i].sa_handler != SIG_IGN)
            ::sigaction(kSignals[i], &action, nullptr);
    }
    return true;
}

} // namespace sequora::platform
