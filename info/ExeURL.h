#pragma once
// Opening a document or link with the handler the desktop associates with it.

#include <QString>

#include <cstdint>

namespace ExeURL {

using HWND = std::uintptr_t;
using HINSTANCE = std::intptr_t;

inline constexpr int SW_SHOW = 5;
// Results up to this value are errors, as the system's own call reports them.
inline constexpr HINSTANCE kShellErrorLimit = 32;
inline constexpr HINSTANCE SE_ERR_NOASSOC = 31;
inline constexpr HINSTANCE kShellSuccess = 42;

/// The desktop window: the parent given for links that belong to no window.
HWND GetDesktopWindow();

/// Opens file with its associated handler when operation is "open" (or empty). Returns
/// a value above 32 when a handler took it, SE_ERR_NOASSOC otherwise. The parent
/// window, parameters, folder and show command are accepted for the caller's sake; the
/// desktop decides how the handler's window appears.
HINSTANCE ShellExecuteA(HWND hwnd, const QString& operation, const QString& file,
                        const QString& parameters, const QString& directory, int showCmd);

} // namespace ExeURL
