#include "platform/CommandLine.h"

#include "platform/SongFiles.h"

#include <QSysInfo>

#include <cctype>
#include <sys/stat.h>

namespace sequora::platform {

namespace {

const QByteArray kEnqueue = "--enqueue";
const QByteArray kEndOfOptions = "--";
const QByteArray kFileScheme = "file:";

bool isOption(const QByteArray& arg)
{
    return arg.size() > 1 && arg.startsWith('-');
}

bool exists(const QByteArray& path)
{
    struct stat info { };
    return ::stat(path.constData(), &info) == 0;
}

// A scheme as URIs spell it: a letter, then letters, digits, "+", "-" or ".", then ":".
qsizetype schemeLength(const QByteArray& text)
{
    if (text.isEmpty() || !std::isalpha(uchar(text[0])))
        return -1;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const uchar c = uchar(text[i]);
        if (c == ':')
            return i;
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return -1;
    }
    return -1;
}

bool isThisHost(const QByteArray& host)
{
    if (host.isEmpty() || host.compare("localhost", Qt::CaseInsensitive) == 0)
        return true;
    return QString::fromLatin1(host).compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
}

void addPath(StartRequest& request, const QByteArray& path, const QByteArray& given)
{
    struct stat info { };
    if (::stat(path.constData(), &info) != 0) {
        request.skipped.append({ given, SkippedArgument::Why::Missing });
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        const QList<NamedPath> songs = songsIn(path);
        if (songs.isEmpty())
            request.skipped.append({ given, SkippedArgument::Why::NoSongs });
        request.entries.append(songs);
        return;
    }
    const qsizetype slash = path.lastIndexOf('/');
    if (!S_ISREG(info.st_mode) || !isSongName(displayName(path.mid(slash + 1)))) {
        request.skipped.append({ given, SkippedArgument::Why::NotSong });
        return;
    }
    request.entries.append(NamedPath::fromBytes(path));
}

} // namespace

UriKind readUri(const QByteArray& text, QByteArray* path)
{
    const qsizetype scheme = schemeLength(text);
    if (scheme < 0)
        return UriKind::NotUri;
    const bool file = text.first(scheme + 1).compare(kFileScheme, Qt::CaseInsensitive) == 0;
    QByteArray rest = text.mid(scheme + 1);
    // Another scheme is a URI only written as one ("http://..."): "a:b.mid" is a name.
    if (!file)
        return rest.startsWith("//") ? UriKind::Foreign : UriKind::NotUri;
    if (rest.startsWith("//")) {
        const qsizetype end = rest.indexOf('/', 2);
        const QByteArray host = rest.mid(2, end < 0 ? -1 : end - 2);
        if (!isThisHost(host))
            return UriKind::Foreign;
        rest = end < 0 ? QByteArray() : rest.mid(end);
    }
    const qsizetype cut = rest.indexOf('?') >= 0 ? rest.indexOf('?') : rest.indexOf('#');
    if (cut >= 0)
        rest.truncate(cut);
    const QByteArray decoded = QByteArray::fromPercentEncoding(rest);
    if (!decoded.startsWith('/') || decoded.contains('\0'))
        return UriKind::Foreign;
    if (path != nullptr)
        *path = decoded;
    return UriKind::Local;
}

bool namesFiles(const QList<QByteArray>& args)
{
    bool options = true;
    for (const QByteArray& arg : args) {
        if (options && arg == kEndOfOptions)
            options = false;
        else if (!options || arg != kEnqueue)
            return true;
    }
    return false;
}

StartRequest readArguments(const QList<QByteArray>& args, const QByteArray& folder)
{
    StartRequest request;
    bool options = true;
    for (const QByteArray& arg : args) {
        if (arg.isEmpty())
            continue;
        if (options && arg == kEndOfOptions) {
            options = false;
            continue;
        }
        if (options && arg == kEnqueue) {
            request.enqueue = true;
            continue;
        }
        if (options && isOption(arg)) {
            request.skipped.append({ arg, SkippedArgument::Why::UnknownOption });
            continue;
        }
        const QByteArray path = cleanPath(arg.startsWith('/') ? arg : joinPath(folder, arg));
        // A name on disk wins over a reading as a URI: a folder may be called "file:".
        if (exists(path)) {
            addPath(request, path, arg);
            continue;
        }
        QByteArray uriPath;
        switch (readUri(arg, &uriPath)) {
        case UriKind::NotUri:
            addPath(request, path, arg);
            break;
        case UriKind::Local:
            addPath(request, cleanPath(uriPath), uriPath);
            break;
        case UriKind::Foreign:
            request.skipped.append({ arg, SkippedArgument::Why::NotLocal });
            break;
        }
    }
    return request;
}

StartRequest readPaths(const QList<QByteArray>& paths)
{
    StartRequest request;
    for (const QByteArray& path : paths)
        addPath(request, cleanPath(path), path);
    return request;
}

} // namespace sequora::platform
