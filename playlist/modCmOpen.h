#pragma once
// The file-open dialog, wrapped in one call.

#include <QString>

#include <functional>

class QWidget;

namespace modCmOpen {

/// The dialog's one filter: MIDI files, karaoke files and RIFF-wrapped ones (all Standard
/// MIDI Files), matched in any letter case; Qt takes the patterns from the parentheses.
inline const QString kMidiFilter = QStringLiteral("MIDIﾌｧｲﾙ(*.mid *.kar *.rmi)");

/// Lets the user choose one existing file, starting in InitDir, in a dialog modal to
/// OwnerHwnd. Returns the chosen file's full path, or empty text on cancel or failure.
/// After a choice the program's current folder is the chosen file's folder.
QString ShowOpenDialog(QWidget* OwnerHwnd, const QString& Filter, const QString& InitDir);

/// Tests replace the dialog: the hook gets the arguments and returns the "chosen" path
/// (empty for cancel) at once. Pass an empty function to restore the real dialog.
using OpenDialogHook
    = std::function<QString(QWidget* owner, const QString& filter, const QString& initDir)>;
void setOpenDialogHook(OpenDialogHook hook);

} // namespace modCmOpen
