#pragma once
// Files that people's music folders really hold besides songs: empty and gigantic files,
// damaged headers, pipes, devices, folders and links named like songs, and names full
// of awkward characters. Plus a watch that frees a test blocked on a pipe, and the
// process size for tests that check memory stays flat.

#include "common/SmfWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define SEQUORA_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SEQUORA_TEST_ASAN 1
#endif
#endif
#ifdef SEQUORA_TEST_ASAN
// Declared here: GCC ships no <sanitizer/allocator_interface.h>, but its runtime has it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace sequora::test {

/// The player refuses to start beside another copy of itself, and a test program counts
/// as the player under its own name: a copy of the same test running in another build
/// folder at the same time would make Form_Load fail. Call before the first Form_Load.
inline void keepApartFromOtherCopies()
{
    QCoreApplication::setApplicationName(QCoreApplication::applicationName() + QLatin1Char('-')
        + QString::number(QCoreApplication::applicationPid()));
}

/// A name with a line break, quotes, a percent sign, blanks and non-ASCII letters
/// (Latin, halfwidth katakana, kanji).
inline const QString kAwkwardName = QStringLiteral("new\nline \"quoted\" 100%  ünïcode ﾃｽﾄ 曲.mid");

inline std::string nativePath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

inline QString makeEmpty(const QTemporaryDir& dir, const QString& name)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    return file.fileName();
}

/// A sparse file of `bytes` bytes, or empty text where the file system cannot make one.
inline QString makeSparse(const QTemporaryDir& dir, const QString& name, uint64_t bytes)
{
    const QString path = makeEmpty(dir, name);
    std::error_code ec;
    std::filesystem::resize_file(nativePath(path), bytes, ec);
    return ec ? QString() : path;
}

/// A format 0 song of `units` tenths of a second whose only track claims 0xFFFFFFFF
/// bytes: the reader takes what the file holds.
inline QString makeEndlessTrackSong(const QTemporaryDir& dir, const QString& name, uint32_t units)
{
    SmfWriter smf(0, 500); // a tick is a millisecond
    smf.addTrack().noteOn(0, 0, 60, 90).noteOff(units * 100, 0, 60).endOfTrack(0);
    const QString path = dir.filePath(name);
    SmfWriter::writeBytes(nativePath(path), withChunkLength(smf.bytes(), 1, 0xFFFFFFFFu));
    return path;
}

/// A file whose first track claims 0xFFFFFFFF bytes and holds nothing: no song at all.
inline QString makeEndlessEmptyTrack(const QTemporaryDir& dir, const QString& name)
{
    Bytes image = SmfWriter(0, 480).bytes();
    image.insert(image.end(), { 'M', 'T', 'r', 'k', 0xFF, 0xFF, 0xFF, 0xFF });
    image[11] = 1; // one track
    const QString path = dir.filePath(name);
    SmfWriter::writeBytes(nativePath(path), image);
    return path;
}

inline QString makeFifo(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    return ::mkfifo(nativePath(path).c_str(), 0600) == 0 ? path : QString();
}

inline QString makeLink(const QTemporaryDir& dir, const QString& name, const QString& target)
{
    const QString path = dir.filePath(name);
    return QFile::link(target, path) ? path : QString();
}

inline QString makeFolder(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    return QDir().mkpath(path) ? path : QString();
}

/// Frees a test that blocked opening a FIFO for reading: after `limit` it opens the
/// FIFO for writing (which lets a waiting reader's open() return) and remembers that
/// it had to. Check blocked() once the code under test has returned.
class FifoWatch {
public:
    explicit FifoWatch(QString fifo, std::chrono::milliseconds limit = std::chrono::seconds(10))
        : m_fifo(nativePath(fifo))
        , m_thread([this, limit] { watch(limit); })
    {
    }
    ~FifoWatch() { blocked(); }
    FifoWatch(const FifoWatch&) = delete;
    FifoWatch& operator=(const FifoWatch&) = delete;

    /// Stops watching; true when a reader was found waiting on the FIFO.
    bool blocked()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_one();
        if (m_thread.joinable())
            m_thread.join();
        return m_blocked;
    }

private:
    void watch(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!m_done) {
            if (m_cv.wait_until(lock, until) == std::cv_status::timeout)
                break;
        }
        // Keep releasing readers until told to stop: some code may try again.
        while (!m_done) {
            const int fd = ::open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                m_blocked = true;
                ::close(fd);
            }
            m_cv.wait_for(lock, std::chrono::milliseconds(50));
        }
    }

    std::string m_fifo;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::atomic<bool> m_blocked { false };
    std::thread m_thread;
};

/// What processSizeKb() measures, for reports.
inline constexpr const char* kProcessSizeMeasure =
#ifdef SEQUORA_TEST_ASAN
    "bytes allocated, under AddressSanitizer";
#else
    "VmRSS";
#endif

/// What the process holds, in kilobytes: its resident size, or under AddressSanitizer
/// (whose quarantine keeps freed memory resident on purpose) the bytes still allocated.
inline qint64 processSizeKb()
{
#ifdef SEQUORA_TEST_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
#endif
}

} // namespace sequora::test
