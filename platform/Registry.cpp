#include "platform/Registry.h"

#include <QHash>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace sequora::platform {

namespace {

const QString kMsinfoKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kMsinfoValue = QStringLiteral("PATH");

// Handles we hand out; kept well away from the predefined roots.
constexpr HKEY kFirstHandle = 0x1000;
constexpr HKEY kHandleStep = 4;

struct Value {
    DWORD type = REG_NONE;
    QByteArray data;
};

// Keys are stored as "root\path" in case-folded form, value names folded too.
using Values = QHash<QString, Value>;

struct Table {
    std::mutex mutex;
    bool filled = false;
    QHash<QString, Values> keys;
    QHash<HKEY, QString> handles;
    HKEY nextHandle = kFirstHandle;
};

Table& table()
{
    static Table instance;
    return instance;
}

QString fold(const QString& text)
{
    return text.toCaseFolded();
}

QString normalisedPath(const QString& path)
{
    QStringList parts = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    return fold(parts.join(QLatin1Char('\\')));
}

QString rootPath(HKEY root)
{
    return QString::number(root, 16);
}

QString joinPath(const QString& base, const QString& sub)
{
    return sub.isEmpty() ? base : base + QLatin1Char('\\') + sub;
}

// The desktop's counterpart of the system-information program, if one is installed.
void fillDefaults(Table& t)
{
    t.keys.clear();
    static const char* const programs[] = {"hardinfo", "kinfocenter", "gnome-system-monitor"};
    for (const char* program : programs) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(program));
        if (!found.isEmpty()) {
            QByteArray bytes = found.toLocal8Bit();
            bytes.append('\0');
            t.keys[joinPath(rootPath(HKEY_LOCAL_MACHINE), normalisedPath(kMsinfoKey))]
                  [fold(kMsinfoValue)] = Value{REG_SZ, bytes};
            break;
        }
    }
    t.filled = true;
}

// Locks the table, filling it from the desktop on first use.
std::unique_lock<std::mutex> lockFilled(Table& t)
{
    std::unique_lock lock(t.mutex);
    if (!t.filled)
        fillDefaults(t);
    return lock;
}

bool keyExists(const Table& t, const QString& path)
{
    if (t.keys.contains(path))
        return true;
    const QString prefix = path + QLatin1Char('\\');
    return std::any_of(t.keys.keyBegin(), t.keys.keyEnd(),
                       [&](const QString& key) { return key.startsWith(prefix); });
}

bool isRoot(HKEY key)
{
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE;
}

} // namespace

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD /*options*/, DWORD /*samDesired*/,
                   HKEY* result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = 0;
    Table& t = table();
    const auto lock = lockFilled(t);

    QString base;
    if (isRoot(root))
        base = rootPath(root);
    else if (t.handles.contains(root))
        base = t.handles.value(root);
    else
        return ERROR_INVALID_HANDLE;

    const QString path = joinPath(base, normalisedPath(QString::fromLocal8Bit(subKey ? subKey : "")));
    if (path != base && !keyExists(t, path))
        return ERROR_FILE_NOT_FOUND;

    const HKEY handle = t.nextHandle;
    t.nextHandle += kHandleStep;
    t.handles.insert(handle, path);
    *result = handle;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* /*reserved*/, DWORD* type,
                      unsigned char* data, DWORD* dataSize)
{
    Table& t = table();
    const auto lock = lockFilled(t);
    if (!t.handles.contains(key))
        return ERROR_INVALID_HANDLE;
    if (data && !dataSize)
        return ERROR_INVALID_PARAMETER;

    const Values values = t.keys.value(t.handles.value(key));
    const auto it = values.constFind(fold(QString::fromLocal8Bit(valueName ? valueName : "")));
    if (it == values.constEnd())
        return ERROR_FILE_NOT_FOUND;

    if (type)
        *type = it->type;
    const auto length = static_cast<DWORD>(it->data.size());
    if (!dataSize)
        return ERROR_SUCCESS;
    if (data && length > *dataSize) {
        *dataSize = length;
        return ERROR_MORE_DATA;
    }
    if (data && length > 0)
        std::memcpy(data, it->data.constData(), length);
    *dataSize = length;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key)
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    return t.handles.remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace registry {

void clear()
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    t.keys.clear();
    t.filled = true;
}

void restoreDefaults()
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    fillDefaults(t);
}

void setValue(HKEY root, const QString& key, const QString& name, DWORD type,
              const QByteArray& data)
{
    Table& t = table();
    const auto lock = lockFilled(t);
    t.keys[joinPath(rootPath(root), normalisedPath(key))][fold(name)] = Value{type, data};
}

void setString(HKEY root, const QString& key, const QString& name, const QString& text)
{
    QByteArray bytes = text.toLocal8Bit();
    bytes.append('\0');
    setValue(root, key, name, REG_SZ, bytes);
}

void setDword(HKEY root, const QString& key, const QString& name, DWORD number)
{
    QByteArray bytes(sizeof number, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFFu);
    setValue(root, key, name, REG_DWORD, bytes);
}

void removeKey(HKEY root, const QString& key)
{
    Table& t = table();
    const auto lock = lockFilled(t);
    const QString path = joinPath(rootPath(root), normalisedPath(key));
    const QString prefix = path + QLatin1Char('\\');
    t.keys.removeIf([&](const auto& entry) {
        return entry.key() == path || entry.key().startsWith(prefix);
    });
}

int openHandleCount()
{
    Table& t = table();
    std::lock_guard lock(t.mutex);
    return static_cast<int>(t.handles.size());
}

} // namespace registry

} // namespace sequora::platform
