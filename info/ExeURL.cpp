#include "info/ExeURL.h"

#include "platform/Shell.h"

namespace ExeURL {

namespace {
// There is no desktop window handle here; any non-zero value serves as one.
constexpr HWND kDesktopWindow = 0x10010;
} // namespace

HWND GetDesktopWindow()
{
    return kDesktopWindow;
}

HINSTANCE ShellExecuteA(HWND /*hwnd*/, const QString& operation, const QString& file,
                        const QString& /*parameters*/, const QString& /*directory*/,
                        int /*showCmd*/)
{
    const bool open = operation.isEmpty() || operation.compare(QLatin1String("open"),
                                                               Qt::CaseInsensitive) == 0;
    if (!open || file.isEmpty())
        return SE_ERR_NOASSOC;
    return sequora::platform::ShellOpen(file) ? kShellSuccess : SE_ERR_NOASSOC;
}

} // namespace ExeURL
