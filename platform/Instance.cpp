#include "platform/Instance.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

namespace sequora::platform {

namespace {

// A player that ends lets go of its name before its lock file; the next one to get the
// name waits this long at most for the lock.
constexpr int kLockWaitMs = 3000;

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

struct Decision {
    bool decided = false;
    bool another = false;
    std::unique_ptr<QLockFile> lock;
};

Decision& decision()
{
    static Decision d;
    return d;
}

// Takes the lock file, waiting up to waitMs; true also when no lock can be made at all.
bool takeLock(int waitMs)
{
    auto lock = std::make_unique<QLockFile>(lockFilePath());
    // Held for the life of the process: only a dead owner makes the lock stale, never
    // its age.
    lock->setStaleLockTime(0);
    if (lock->tryLock(waitMs)) {
        decision().lock = std::move(lock);
        return true;
    }
    return lock->error() != QLockFile::LockFailedError;
}

void decide(bool another)
{
    decision().decided = true;
    decision().another = another;
}

} // namespace

bool anotherInstanceRunning()
{
    Decision& d = decision();
    if (!d.decided)
        decide(!takeLock(0));
    return d.another;
}

InstanceService::InstanceService(QObject* parent)
    : QObject(parent)
{
    qDBusRegisterMetaType<QList<QByteArray>>();
}

InstanceService::~InstanceService()
{
    release();
}

void InstanceService::release()
{
    // The lock goes before the name, so that whoever gets the name next finds it free.
    if (m_owner)
        decision().lock.reset();
    if (m_owner && m_bus.isConnected())
        m_bus.unregisterService(kServiceName);
    if (m_exported && m_bus.isConnected())
        m_bus.unregisterObject(kObjectPath);
    m_owner = false;
    m_exported = false;
}

void InstanceService::reconsider()
{
    release();
    m_decided = false;
    m_otherOnBus = false;
    decision().decided = false;
    decision().another = false;
}

bool InstanceService::claim(QDBusConnection bus)
{
    if (m_decided)
        return m_owner;
    m_decided = true;
    if (!bus.isConnected() || decision().decided) {
        m_owner = !anotherInstanceRunning();
        return m_owner;
    }
    m_bus = bus;
    m_exported = bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply
        = bus.interface()->registerService(kServiceName, QDBusConnectionInterface::DontQueueService,
            QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        // The bus chose this one; a copy started without a bus may still hold the lock.
        m_owner = takeLock(kLockWaitMs);
        decide(!m_owner);
        if (!m_owner)
            bus.unregisterService(kServiceName);
    } else if (reply.isValid()) {
        m_otherOnBus = true;
        decide(true);
    } else {
        // The bus would not answer: the lock file decides, as without one.
        m_owner = !anotherInstanceRunning();
    }
    if (!m_owner && m_exported) {
        bus.unregisterObject(kObjectPath);
        m_exported = false;
    }
    return m_owner;
}

bool InstanceService::handOver(
    QDBusConnection bus, const QList<QByteArray>& args, const QByteArray& folder, int timeoutMs)
{
    if (!bus.isConnected())
        return false;
    qDBusRegisterMetaType<QList<QByteArray>>();
    QDBusMessage call = QDBusMessage::createMethodCall(
        kServiceName, kObjectPath, kInterface, QStringLiteral("Open"));
    call << QVariant::fromValue(args) << folder;
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

void InstanceService::Open(const QList<QByteArray>& args, const QByteArray& folder)
{
    // After the reply: the window may show a box, which must not hold the caller.
    QTimer::singleShot(0, this, [this, args, folder] { emit filesArrived(args, folder); });
}

} // namespace sequora::platform
