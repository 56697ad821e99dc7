#pragma once
// Qt's own texts (the open dialog, standard buttons) in Japanese, like the program's.

namespace sequora::platform {

/// Loads Qt's Japanese translation into the application, whatever the desktop's
/// language. Call before any window is made. False when the translation is not
/// installed: Qt's texts then stay English.
bool installQtTranslation();

} // namespace sequora::platform
