#include "platform/desktop/SongRequests.h"

#include "platform/desktop/ModalChildScope.h"

#include <QApplication>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace sequora::platform {

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
// A box lists this many and counts the rest.
constexpr qsizetype kListedSkips = 12;

QString reason(SkippedArgument::Why why)
{
    switch (why) {
    case SkippedArgument::Why::Missing:
        return QStringLiteral("見つかりません");
    case SkippedArgument::Why::NotSong:
        return QStringLiteral("MIDI ﾌｧｲﾙではありません");
    case SkippedArgument::Why::NoSongs:
        return QStringLiteral("MIDI ﾌｧｲﾙがありません");
    case SkippedArgument::Why::NotLocal:
        return QStringLiteral("このｺﾝﾋﾟｭｰﾀのﾌｧｲﾙではありません");
    case SkippedArgument::Why::UnknownOption:
        return QStringLiteral("使えないｵﾌﾟｼｮﾝです");
    }
    return {};
}

// The URI list's own lines, so that a name's bytes survive whatever their code page;
// QUrl's reading is the fallback for a source that offers the list only as URLs.
QList<QByteArray> uriLines(const QMimeData& data)
{
    QList<QByteArray> lines;
    if (data.hasFormat(kUriList)) {
        for (QByteArray line : data.data(kUriList).split('\n')) {
            line = line.trimmed();
            if (!line.isEmpty() && !line.startsWith('#'))
                lines.append(line);
        }
        return lines;
    }
    for (const QUrl& url : data.urls())
        lines.append(url.toEncoded());
    return lines;
}

} // namespace

bool bringsFiles(const QMimeData& data)
{
    return data.hasFormat(kUriList) || data.hasUrls();
}

StartRequest readDrop(const QMimeData& data)
{
    QList<QByteArray> paths;
    QList<SkippedArgument> foreign;
    for (const QByteArray& line : uriLines(data)) {
        QByteArray path;
        if (readUri(line, &path) == UriKind::Local)
            paths.append(path);
        else
            foreign.append({ line, SkippedArgument::Why::NotLocal });
    }
    StartRequest request = readPaths(paths);
    request.skipped.append(foreign);
    return request;
}

bool takesInput(const QWidget& window)
{
    return window.isEnabled() && QApplication::activeModalWidget() == nullptr
        && !runsModalChild(window);
}

QString skippedMessage(const QList<SkippedArgument>& skipped)
{
    if (skipped.isEmpty())
        return {};
    QStringList lines { QStringLiteral("次のものは再生ﾘｽﾄに入れませんでした。"), QString() };
    for (qsizetype i = 0; i < skipped.size() && i < kListedSkips; ++i)
        lines.append(
            QStringLiteral("%1 : %2").arg(displayPath(skipped[i].given), reason(skipped[i].why)));
    if (skipped.size() > kListedSkips)
        lines.append(QStringLiteral("ほか %1 件").arg(skipped.size() - kListedSkips));
    return lines.join(QLatin1Char('\n'));
}

} // namespace sequora::platform
