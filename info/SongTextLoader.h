#pragma once
// Reads the loaded song's texts (title, lyrics, module display) off the window's thread,
// for the lyrics window and the desktop's media controls. Keeps the last song read.

#include "platform/midi/file/SongText.h"

#include <QObject>
#include <QThreadPool>

#include <cstdint>
#include <memory>
#include <string>

class SongTextLoader : public QObject {
    Q_OBJECT

public:
    explicit SongTextLoader(QObject* parent = nullptr);
    ~SongTextLoader() override;

    /// The texts of the file at path (its bytes as the device opens it): at once when
    /// they have been read, else null while a read begins or goes on; loaded() follows.
    std::shared_ptr<const sequora::midi::SongText> texts(const std::string& path);

    /// Waits for a read under way; for tests and the benchmark.
    void waitForDone() { m_pool.waitForDone(); }

signals:
    /// The texts asked for last are there.
    void loaded();

private:
    void finished(uint64_t generation, std::shared_ptr<const sequora::midi::SongText> texts);

    QThreadPool m_pool;
    std::string m_path; ///< the file asked for last
    std::shared_ptr<const sequora::midi::SongText> m_texts; ///< its texts once read
    uint64_t m_generation = 0;
};
