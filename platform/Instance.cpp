#include "platform/Instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#include <memory>

namespace sequora::platform {

namespace {

// The lock is named after the application, so the player ("Sequora") and a test
// program that builds the player window do not stand in each other's way.
QString lockFilePath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        name = QStringLiteral("sequora");
    return QDir(folder).filePath(QStringLiteral("%1.instance.lock").arg(name));
}

} // namespace

bool anotherInstanceRunning()
{
    static std::unique_ptr<QLockFile> held;
    static bool decided = false;
    static bool another = false;
    if (decided)
        return another;
    decided = true;

    auto lock = std::make_unique<QLockFile>(lockFilePath());
    // Held for the life of the process: only a dead owner makes the lock stale, never
    // its age.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        held = std::move(lock);
        return false;
    }
    another = lock->error() == QLockFile::LockFailedError;
    return another;
}

} // namespace sequora::platform
