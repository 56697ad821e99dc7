#pragma once
// What assistive technology hears of a top-level window. A plain QWidget used as a
// window (the playlist editor, the read-me window) would otherwise be announced as a
// nameless filler; main windows and dialogs already speak for themselves.

class QAccessibleInterface;
class QObject;
class QString;

namespace sequora::platform {

/// Installs the accessibility factory below, once; call before the first window exists.
void installWindowAccessibility();

/// The accessible view of a plain top-level window: role Window, the caption as its name.
/// Null for anything else, so Qt's own interfaces apply.
QAccessibleInterface* windowAccessibleFactory(const QString& className, QObject* object);

} // namespace sequora::platform
