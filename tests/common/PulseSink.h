#pragma once
// A private PulseAudio server with a null sink for tests that listen to the program: the
// server, which can be killed, hung and started again, and what its sink plays, recorded
// from its monitor with parec.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDevice>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <signal.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace sequora::test {

inline void stopProcess(QProcess& p)
{
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(5000);
    }
}

/// A private PulseAudio server: its own runtime folder and socket, a null sink named
/// "test", and no other client (the desktop's server, if any, is never touched). It can
/// be killed and started again on the same socket.
class PulseServer {
public:
    /// How long a busy machine may take to start the server.
    static constexpr int kStartDeadlineMs = 30000;

    explicit PulseServer(const QString& dir)
        : m_dir(dir)
        , m_socket(dir + "/pulse-socket")
    {
    }
    ~PulseServer() { kill(); }
    QString address() const { return "unix:" + m_socket; }

    bool start()
    {
        const QString pulseaudio = QStandardPaths::findExecutable("pulseaudio");
        const QString runtime = m_dir + "/pulse-runtime";
        QDir().mkpath(runtime);
        QFile::setPermissions(
            runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::remove(m_socket); // left by a killed server
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir);
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("XDG_CONFIG_HOME", m_dir + "/pulse-config");
        env.insert("PULSE_RUNTIME_PATH", runtime);
        env.insert("PULSE_STATE_PATH", m_dir + "/pulse-state");
        m_process = std::make_unique<QProcess>();
        m_process->setProcessEnvironment(env);
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->start(pulseaudio,
            { "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                "--disable-shm=yes", "--log-target=stderr", "--log-level=error", "-L",
                "module-null-sink sink_name=test", "-L",
                "module-native-protocol-unix auth-anonymous=1 socket=" + m_socket });
        if (!m_process->waitForStarted(5000))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (!QFile::exists(m_socket) && m_process->state() == QProcess::Running
            && waited.elapsed() < kStartDeadlineMs)
            QTest::qWait(20);
        return QFile::exists(m_socket) && m_process->state() == QProcess::Running;
    }
    void kill()
    {
        if (m_process)
            stopProcess(*m_process);
    }
    /// A hung server: SIGSTOP, then SIGCONT.
    void hang(bool hung) { ::kill(pid_t(m_process->processId()), hung ? SIGSTOP : SIGCONT); }

private:
    QString m_dir;
    QString m_socket;
    std::unique_ptr<QProcess> m_process;
};

/// What a PulseAudio server's null sink plays, recorded from its monitor with parec.
class SinkMonitor {
public:
    /// A 20 ms block of the sink's monitor this loud (about -30 dBFS) is sound, not silence.
    static constexpr int kHeardPeak = 1000;

    ~SinkMonitor() { stop(); }
    bool start(const QString& server)
    {
        stop();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PULSE_SERVER", server);
        m_process = std::make_unique<QProcess>();
        m_process->setProcessEnvironment(env);
        m_process->setProcessChannelMode(QProcess::SeparateChannels);
        m_process->start("parec",
            { "--raw", "--format=s16le", "--channels=2", "--rate=44100", "--latency-msec=20", "-d",
                "test.monitor" });
        m_pending.clear();
        return m_process->waitForStarted(5000);
    }
    void stop()
    {
        if (m_process)
            stopProcess(*m_process);
    }
    /// Throws away what was recorded so far.
    void skip()
    {
        m_process->waitForReadyRead(100);
        m_process->readAllStandardOutput();
        m_pending.clear();
    }
    /// Whether sound comes within @p ms: a 20 ms block louder than kHeardPeak.
    bool heard(int ms) { return scan(ms, kHeardPeak) > kHeardPeak; }
    /// The peak of the next @p ms recorded.
    int loudest(int ms) { return scan(ms, 1 << 16); }

private:
    /// Reads for up to @p ms, until a 20 ms block is louder than @p enough; returns the
    /// loudest peak read.
    int scan(int ms, int enough)
    {
        constexpr qsizetype kBlock = 882 * 4; // 20 ms of 16-bit stereo at 44.1 kHz
        QElapsedTimer t;
        t.start();
        int loudest = 0;
        while (t.elapsed() < ms && m_process->state() == QProcess::Running) {
            m_process->waitForReadyRead(100);
            m_pending += m_process->readAllStandardOutput();
            while (m_pending.size() >= kBlock) {
                for (qsizetype i = 0; i + 1 < kBlock; i += 2) {
                    const auto v = static_cast<int16_t>(
                        uint8_t(m_pending[i]) | uint8_t(m_pending[i + 1]) << 8);
                    loudest = std::max(loudest, std::abs(int(v)));
                }
                m_pending.remove(0, kBlock);
                if (loudest > enough)
                    return loudest;
            }
        }
        return loudest;
    }

    std::unique_ptr<QProcess> m_process;
    QByteArray m_pending;
};

} // namespace sequora::test
