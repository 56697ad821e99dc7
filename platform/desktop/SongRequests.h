#pragma once
// Songs that reach a window from outside: files and folders dropped on it, and what the
// program says about the ones it could not take (the same words for the command line, a
// second start and a drop).

#include "platform/CommandLine.h"

#include <QString>

class QMimeData;
class QWidget;

namespace sequora::platform {

/// Whether data brings files or folders (a URI list), as a file manager's drag does.
bool bringsFiles(const QMimeData& data);
/// The songs data brings: its URI list's local files and folders in order, read as the
/// command line reads them; a URI of another scheme or host is skipped.
StartRequest readDrop(const QMimeData& data);

/// Whether window takes a drop or another command from outside now: not while a dialog
/// or message box is up, nor while it is disabled.
bool takesInput(const QWidget& window);

/// The one message about what was skipped, each with its reason; empty for none.
QString skippedMessage(const QList<SkippedArgument>& skipped);

} // namespace sequora::platform
