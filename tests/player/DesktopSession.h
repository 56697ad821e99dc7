#pragma once
// A private desktop for tests of the real program: an X server (Xvfb), a session bus of
// its own with the accessibility bus on it, the sequora program started there, and
// small clients: playerctl for MPRIS, and an AT-SPI reader that walks the program's
// accessible tree and presses its buttons as a screen reader's user would.

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

namespace sequora::test {

/// One object on the accessibility bus.
struct Accessible {
    QString service;
    QString path;
};

class DesktopSession {
public:
    DesktopSession() = default;
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    ~DesktopSession()
    {
        stopPlayer();
        m_a11y.reset();
        m_session.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("test-a11y"));
        QDBusConnection::disconnectFromBus(QStringLiteral("test-session"));
        for (QProcess* p : { &m_bus, &m_x }) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(3000))
                    p->kill();
                p->waitForFinished(3000);
            }
        }
    }

    /// The tools missing on this machine, empty when the session can be started.
    static QStringList missingTools()
    {
        QStringList missing;
        for (const char* tool : { "Xvfb", "dbus-daemon", "playerctl" }) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                missing << QLatin1String(tool);
        }
        if (!QFileInfo::exists(QStringLiteral("/usr/share/dbus-1/services/org.a11y.Bus.service")))
            missing << QStringLiteral("at-spi2-core");
        return missing;
    }

    static QString program()
    {
        return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("sequora"));
    }

    /// Starts the X server and the session bus; empty text, or what went wrong.
    QString start()
    {
        if (!m_runtime.isValid())
            return QStringLiteral("no temporary folder");
        // -displayfd 1: the server picks a free display and names it on standard output.
        m_x.start(QStringLiteral("Xvfb"),
            { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp") });
        if (!m_x.waitForStarted() || !readLine(m_x, &m_display))
            return QStringLiteral("Xvfb did not start");
        // Its socket may come a moment after the number.
        const QString socket = QStringLiteral("/tmp/.X11-unix/X") + m_display;
        QElapsedTimer listening;
        listening.start();
        while (!QFileInfo::exists(socket) && listening.elapsed() < 5000)
            QTest::qWait(20);
        m_display.prepend(QLatin1Char(':'));

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("DISPLAY"), m_display);
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        m_env.insert(QStringLiteral("HOME"), m_runtime.path());
        m_env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        m_bus.setProcessEnvironment(m_env);
        m_bus.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1") });
        if (!m_bus.waitForStarted() || !readLine(m_bus, &m_address))
            return QStringLiteral("dbus-daemon did not start");
        m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);

        m_session = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(m_address, QStringLiteral("test-session")));
        if (!m_session->isConnected())
            return QStringLiteral("cannot connect to the session bus");
        // The program joins the accessibility bus only if it is there when it starts.
        const QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"),
            QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"),
            QStringLiteral("GetAddress"));
        const QDBusReply<QString> a11y = m_session->call(ask);
        if (!a11y.isValid())
            return QStringLiteral("no accessibility bus: ") + a11y.error().message();
        m_a11y = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(a11y.value(), QStringLiteral("test-a11y")));
        if (!m_a11y->isConnected())
            return QStringLiteral("cannot connect to the accessibility bus");
        return {};
    }

    QProcessEnvironment environment() const { return m_env; }
    QDBusConnection& session() { return *m_session; }

    /// Starts sequora in folder with the device log in logFile, and waits until its
    /// window is on the accessibility bus. Its messages go to standard error unless
    /// realBoxes asks for the boxes themselves. It plays on the null output unless
    /// @p extra says otherwise (its variables win).
    bool startPlayer(const QString& folder, const QString& logFile, bool realBoxes = false,
        const QProcessEnvironment& extra = {})
    {
        QProcessEnvironment env = m_env;
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        env.insert(QStringLiteral("SEQUORA_MIDI_OUT"), QStringLiteral("null"));
        if (!realBoxes)
            env.insert(QStringLiteral("SEQUORA_TEST_AUTOCLOSE_MESSAGES"), QStringLiteral("1"));
        else
            env.remove(QStringLiteral("SEQUORA_TEST_AUTOCLOSE_MESSAGES"));
        env.insert(QStringLiteral("SEQUORA_MCI_LOG"), logFile);
        for (const QString& name : extra.keys())
            env.insert(name, extra.value(name));
        m_player.setProcessEnvironment(env);
        m_player.setWorkingDirectory(folder);
        // A busy machine's new X server sometimes turns the very first client away: a
        // player that ends before its window shows is started again, twice at most.
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_player.start(program(), {});
            if (!m_player.waitForStarted())
                return false;
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < 15000 && m_player.state() == QProcess::Running) {
                if (app(QStringLiteral("Sequora"))
                    && !playerctl({ QStringLiteral("status") }).isEmpty())
                    return true;
                QTest::qWait(100);
            }
            if (m_player.state() == QProcess::Running)
                return false;
            QTest::qWait(500);
        }
        return false;
    }

    void stopPlayer()
    {
        if (m_player.state() == QProcess::NotRunning)
            return;
        m_player.terminate();
        if (!m_player.waitForFinished(5000))
            m_player.kill();
        m_player.waitForFinished(5000);
    }

    QProcess& player() { return m_player; }

    /// Runs playerctl for the sequora player and returns what it printed.
    QString playerctl(QStringList args)
    {
        args.prepend(QStringLiteral("--player=sequora"));
        QProcess client;
        client.setProcessEnvironment(m_env);
        client.start(QStringLiteral("playerctl"), args);
        if (!client.waitForFinished(10000)) {
            client.kill();
            client.waitForFinished();
            return QStringLiteral("(playerctl hung)");
        }
        return QString::fromUtf8(client.readAllStandardOutput()).trimmed();
    }

    // The accessibility bus, read as a screen reader reads it.

    QList<Accessible> children(const Accessible& of)
    {
        const QDBusMessage reply = call(
            of, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetChildren"), {});
        QList<Accessible> out;
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return out;
        const QDBusArgument list = reply.arguments().first().value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            Accessible child;
            QDBusObjectPath path;
            list.beginStructure();
            list >> child.service >> path;
            list.endStructure();
            child.path = path.path();
            out << child;
        }
        list.endArray();
        return out;
    }

    QString roleName(const Accessible& of)
    {
        const QDBusMessage reply = call(
            of, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetRoleName"), {});
        return reply.arguments().value(0).toString();
    }

    QString name(const Accessible& of)
    {
        const QDBusMessage reply
            = call(of, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                { QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("Name") });
        return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
    }

    /// The application of that name on the accessibility bus.
    std::optional<Accessible> app(const QString& appName)
    {
        const Accessible root { QStringLiteral("org.a11y.atspi.Registry"),
            QStringLiteral("/org/a11y/atspi/accessible/root") };
        for (const Accessible& a : children(root)) {
            if (name(a) == appName)
                return a;
        }
        return std::nullopt;
    }

    /// The program's top-level windows.
    QList<Accessible> windows()
    {
        const std::optional<Accessible> a = app(QStringLiteral("Sequora"));
        return a ? children(*a) : QList<Accessible> {};
    }

    std::optional<Accessible> window(const QString& caption)
    {
        for (const Accessible& w : windows()) {
            if (name(w) == caption)
                return w;
        }
        return std::nullopt;
    }

    /// The first object below from (depth first, at most depth levels) that matches.
    std::optional<Accessible> find(
        const Accessible& from, const std::function<bool(const Accessible&)>& match, int depth = 6)
    {
        for (const Accessible& child : children(from)) {
            if (match(child))
                return child;
            if (depth > 1) {
                if (std::optional<Accessible> found = find(child, match, depth - 1))
                    return found;
            }
        }
        return std::nullopt;
    }

    std::optional<Accessible> findNamed(
        const Accessible& from, const QString& role, const QString& accessibleName, int depth = 6)
    {
        return find(
            from,
            [&](const Accessible& a) { return roleName(a) == role && name(a) == accessibleName; },
            depth);
    }

    /// What a screen reader speaks as the object's name: the label it is labelled by
    /// (how Linux names drop-down lists, whose own name is their value), else its name.
    QString spokenName(const Accessible& of)
    {
        constexpr uint kLabelledBy = 2;
        const QDBusMessage reply = call(
            of, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetRelationSet"), {});
        const QDBusArgument relations = reply.arguments().value(0).value<QDBusArgument>();
        QStringList labels;
        relations.beginArray();
        while (!relations.atEnd()) {
            uint type = 0;
            relations.beginStructure();
            relations >> type;
            relations.beginArray();
            while (!relations.atEnd()) {
                Accessible target;
                QDBusObjectPath path;
                relations.beginStructure();
                relations >> target.service >> path;
                relations.endStructure();
                target.path = path.path();
                if (type == kLabelledBy)
                    labels << name(target);
            }
            relations.endArray();
            relations.endStructure();
        }
        relations.endArray();
        return labels.isEmpty() ? name(of) : labels.join(QLatin1Char(' '));
    }

    /// The object's AT-SPI state bits (the first 32).
    uint states(const Accessible& of)
    {
        const QDBusMessage reply
            = call(of, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetState"), {});
        const QList<uint> words
            = qdbus_cast<QList<uint>>(reply.arguments().value(0).value<QDBusArgument>());
        return words.value(0);
    }

    /// Runs the object's first action: a press for buttons and menu items.
    bool press(const Accessible& what)
    {
        const QDBusMessage reply = call(
            what, QStringLiteral("org.a11y.atspi.Action"), QStringLiteral("DoAction"), { 0 });
        return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
    }

private:
    static bool readLine(QProcess& process, QString* line)
    {
        QElapsedTimer waited;
        waited.start();
        while (!process.canReadLine() && waited.elapsed() < 10000)
            process.waitForReadyRead(200);
        if (!process.canReadLine())
            return false;
        *line = QString::fromUtf8(process.readLine()).trimmed();
        return !line->isEmpty();
    }

    QDBusMessage call(const Accessible& of, const QString& interface, const QString& method,
        const QVariantList& args)
    {
        QDBusMessage message
            = QDBusMessage::createMethodCall(of.service, of.path, interface, method);
        message.setArguments(args);
        return m_a11y->call(message, QDBus::Block, 5000);
    }

    QTemporaryDir m_runtime;
    QProcess m_x;
    QProcess m_bus;
    QProcess m_player;
    QString m_display;
    QString m_address;
    QProcessEnvironment m_env;
    std::unique_ptr<QDBusConnection> m_session;
    std::unique_ptr<QDBusConnection> m_a11y;
};

} // namespace sequora::test
