#pragma once
// Starting other programs and opening links, without waiting for them.

#include <QString>
#include <QStringList>

#include <functional>

namespace sequora::platform {

/// Starts program (searched on PATH) with args as a separate process and returns at
/// once. True when the process could be started.
bool StartProgram(const QString& program, const QStringList& args = {});

/// ShellExecuteA("open", target): hands a link or document to the desktop's handler.
/// The result tells whether a handler took it; callers may ignore it.
bool ShellOpen(const QString& target);

/// Tests replace both: the hooks receive the program or target and say whether it
/// "started". Empty functions restore the real behaviour.
using StartProgramHook = std::function<bool(const QString& program, const QStringList& args)>;
using ShellOpenHook = std::function<bool(const QString& target)>;
void setStartProgramHook(StartProgramHook hook);
void setShellOpenHook(ShellOpenHook hook);

} // namespace sequora::platform
