#pragma once
// A session bus of its own (dbus-daemon, as dbus-run-session starts one) for tests that
// start the real sequora program more than once: headless players on it, each with its
// own device log, and the bus's view of who owns the player's name.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace sequora::test {

class BusSession {
public:
    BusSession() = default;
    BusSession(const BusSession&) = delete;
    BusSession& operator=(const BusSession&) = delete;
    ~BusSession()
    {
        for (auto& player : m_players)
            stop(*player);
        m_bus.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("bus-session"));
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            if (!m_daemon.waitForFinished(3000))
                m_daemon.kill();
            m_daemon.waitForFinished(3000);
        }
    }

    static QString program()
    {
        return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("sequora"));
    }

    /// Starts the bus; empty text, or what went wrong.
    QString start()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            return QStringLiteral("dbus-daemon is not installed");
        if (!m_home.isValid())
            return QStringLiteral("no temporary folder");
        QDir(m_home.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_home.filePath(QStringLiteral("run")),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("HOME"), m_home.path());
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("run")));
        m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_env.insert(QStringLiteral("SEQUORA_MIDI_OUT"), QStringLiteral("null"));
        m_env.insert(QStringLiteral("SEQUORA_TEST_AUTOCLOSE_MESSAGES"), QStringLiteral("1"));
        m_env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        m_daemon.setProcessEnvironment(m_env);
        m_daemon.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1") });
        if (!m_daemon.waitForStarted())
            return QStringLiteral("dbus-daemon did not start");
        QElapsedTimer waited;
        waited.start();
        while (!m_daemon.canReadLine() && waited.elapsed() < 10000)
            m_daemon.waitForReadyRead(200);
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (address.isEmpty())
            return QStringLiteral("dbus-daemon named no address");
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        m_bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("bus-session")));
        return m_bus->isConnected() ? QString() : QStringLiteral("cannot connect to the bus");
    }

    QProcessEnvironment environment() const { return m_env; }
    QDBusConnection& bus() { return *m_bus; }
    QString home() const { return m_home.path(); }

    /// Starts sequora with args in folder, its device log in log; not waited for.
    QProcess& launch(const QStringList& args, const QString& folder, const QString& log,
        const QProcessEnvironment& extra = {})
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = m_env;
        env.insert(QStringLiteral("SEQUORA_MCI_LOG"), log);
        for (const QString& key : extra.keys())
            env.insert(key, extra.value(key));
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(folder);
        process->start(program(), args);
        m_players.push_back(std::move(process));
        return *m_players.back();
    }

    /// Whether a player owns the program's name on the bus.
    bool playerOnBus()
    {
        return m_bus->interface()->isServiceRegistered(QStringLiteral("org.example.sequora"));
    }

    /// Waits until a player owns the name and answers MPRIS (its event loop runs).
    bool waitForPlayer(int ms = 15000)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < ms) {
            if (playerOnBus()
                && m_bus->interface()->isServiceRegistered(
                    QStringLiteral("org.mpris.MediaPlayer2.sequora")))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    /// How many started players still run.
    int running() const
    {
        int n = 0;
        for (const auto& player : m_players)
            n += player->state() != QProcess::NotRunning;
        return n;
    }

    static void stop(QProcess& player)
    {
        if (player.state() == QProcess::NotRunning)
            return;
        player.terminate();
        if (!player.waitForFinished(5000))
            player.kill();
        player.waitForFinished(5000);
    }

private:
    QTemporaryDir m_home;
    QProcess m_daemon;
    QProcessEnvironment m_env;
    std::unique_ptr<QDBusConnection> m_bus;
    std::vector<std::unique_ptr<QProcess>> m_players;
};

} // namespace sequora::test
