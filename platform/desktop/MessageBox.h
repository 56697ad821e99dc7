#pragma once
// Modal message box with an OK button only, captioned with the application title.

#include <QString>

#include <functional>

class QWidget;

namespace sequora::platform {

inline const QString kAppTitle = QStringLiteral("Sequora");

/// Shows text in a modal box (OK only, caption "Sequora") and returns when it is closed.
void MsgBox(const QString& text, QWidget* parent = nullptr);

/// Tests replace the box: the hook gets the text and caption instead and returns at
/// once. Pass an empty function to restore the real box.
using MessageBoxHook = std::function<void(const QString& text, const QString& caption)>;
void setMessageBoxHook(MessageBoxHook hook);

} // namespace sequora::platform
