#include "platform/FileNames.h"

#include "platform/midi/file/TextDecoder.h"

#include <QFile>

#include <filesystem>
#include <system_error>

namespace sequora::platform {

QString displayName(const QByteArray& name)
{
    return QString::fromStdString(
        midi::text::decodeText({ name.constData(), std::size_t(name.size()) }));
}

QString displayPath(const QByteArray& path)
{
    // Names apart: a UTF-8 folder may hold a CP932 file, and one reading for the whole
    // path would spoil both.
    QStringList parts;
    for (const QByteArray& name : path.split('/'))
        parts.append(displayName(name));
    return parts.join(QLatin1Char('/'));
}

QByteArray currentFolder()
{
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::current_path(ec);
    return ec ? QByteArray("/") : QByteArray::fromStdString(folder.native());
}

QByteArray cleanPath(const QByteArray& path)
{
    std::filesystem::path p(path.toStdString());
    if (p.is_relative())
        p = std::filesystem::path(currentFolder().toStdString()) / p;
    std::string clean = p.lexically_normal().native();
    while (clean.size() > 1 && clean.back() == '/')
        clean.pop_back();
    return QByteArray::fromStdString(clean);
}

bool liesUnder(const QByteArray& path, const QByteArray& root)
{
    if (root == "/")
        return path.startsWith('/');
    return path == root || path.startsWith(root + '/');
}

QByteArray joinPath(const QByteArray& folder, const QByteArray& name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray entryFile(const QString& text, const QByteArray& native)
{
    return native.isEmpty() ? QFile::encodeName(text) : native;
}

QByteArray bytesToKeep(const QString& text, const QByteArray& bytes)
{
    return QFile::encodeName(text) == bytes ? QByteArray() : bytes;
}

NamedPath NamedPath::fromBytes(const QByteArray& bytes)
{
    const QString text = displayPath(bytes);
    return { text, bytesToKeep(text, bytes) };
}

} // namespace sequora::platform
