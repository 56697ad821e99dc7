#include "platform/Shell.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace sequora::platform {

namespace {
StartProgramHook& startHook()
{
    static StartProgramHook instance;
    return instance;
}
ShellOpenHook& openHook()
{
    static ShellOpenHook instance;
    return instance;
}
} // namespace

bool StartProgram(const QString& program, const QStringList& args)
{
    if (startHook())
        return startHook()(program, args);
    const QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty() && !program.contains(QLatin1Char('/')))
        return false;
    return QProcess::startDetached(found.isEmpty() ? program : found, args);
}

bool ShellOpen(const QString& target)
{
    if (openHook())
        return openHook()(target);
    return QDesktopServices::openUrl(QUrl::fromUserInput(target));
}

void setStartProgramHook(StartProgramHook hook)
{
    startHook() = std::move(hook);
}

void setShellOpenHook(ShellOpenHook hook)
{
    openHook() = std::move(hook);
}

} // namespace sequora::platform
