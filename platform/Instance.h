#pragma once
// One player per user: the test whether another copy runs, and the way a second start
// hands its files to the copy that runs.
//
// On a session bus the player owns a well-known name, which the bus gives to one
// connection only (atomically) and takes back the moment that process ends, however it
// ends; it exports its hand-over method before it asks for the name, so whoever finds
// the name finds the method too. Without a bus a per-user lock file decides, as it always
// has; a lock left by a copy that died is recognised as stale and taken over.

#include <QByteArray>
#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>

namespace sequora::platform {

/// True when another copy of this program already runs for the same user: the answer
/// InstanceService::claim() found when it was asked, else the lock file's (taken at the
/// first call and held until the process ends). When no lock can be made at all (no
/// writable folder) the answer is false: a broken lock must not keep the player from
/// starting.
bool anotherInstanceRunning();

class InstanceService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.example.sequora.Instance")

public:
    static inline const QString kServiceName = QStringLiteral("org.example.sequora");
    static inline const QString kObjectPath = QStringLiteral("/org/example/sequora");
    static inline const QString kInterface = QStringLiteral("org.example.sequora.Instance");
    /// How long a second start waits for the player to take its files: the player may
    /// itself be starting (its bus messages wait for its event loop).
    static constexpr int kHandOverTimeoutMs = 20000;

    explicit InstanceService(QObject* parent = nullptr);
    ~InstanceService() override;

    /// Whether this process is the one player. With bus connected it asks for the
    /// well-known name (and then also holds the lock file, against a copy started
    /// without a bus); without one, the lock file alone decides. Answered once; later
    /// calls repeat the answer. anotherInstanceRunning() answers the same from then on.
    bool claim(QDBusConnection bus);
    /// Whether claim() found the running copy on the bus, so files can be handed to it.
    bool otherOnBus() const { return m_otherOnBus; }
    /// Forgets the answer, for a second start whose player went away before it took the
    /// files: the next claim() asks again.
    void reconsider();

    /// A second start's: hands its arguments, with the folder relative ones are taken
    /// from, to the player that owns the name. False when no player took them (none on
    /// the bus, or it went away meanwhile).
    static bool handOver(QDBusConnection bus, const QList<QByteArray>& args,
        const QByteArray& folder, int timeoutMs = kHandOverTimeoutMs);

public slots:
    /// The hand-over method on the bus: answers at once and reports the arguments by
    /// filesArrived() from the event loop, so the caller never waits for the window.
    Q_SCRIPTABLE void Open(const QList<QByteArray>& args, const QByteArray& folder);

signals:
    void filesArrived(const QList<QByteArray>& args, const QByteArray& folder);

private:
    void release();

    QDBusConnection m_bus { QString() };
    bool m_decided = false;
    bool m_owner = false;
    bool m_otherOnBus = false;
    bool m_exported = false;
};

} // namespace sequora::platform
