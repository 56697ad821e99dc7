#include "info/SongTextLoader.h"

#include <QMetaObject>

using sequora::midi::SongText;

SongTextLoader::SongTextLoader(QObject* parent)
    : QObject(parent)
{
    // One read at a time: a newer request makes an older result useless anyway.
    m_pool.setMaxThreadCount(1);
}

SongTextLoader::~SongTextLoader()
{
    m_pool.clear();
    m_pool.waitForDone();
}

std::shared_ptr<const SongText> SongTextLoader::texts(const std::string& path)
{
    if (path == m_path)
        return m_texts;
    m_path = path;
    m_texts.reset();
    const uint64_t generation = ++m_generation;
    m_pool.clear(); // a read not yet begun is for a song no longer wanted
    m_pool.start([this, path, generation] {
        auto texts = std::make_shared<SongText>();
        SongText::load(path, *texts);
        // Delivered on the window's thread; dropped with this object if it is gone.
        QMetaObject::invokeMethod(
            this, [this, generation, texts] { finished(generation, texts); }, Qt::QueuedConnection);
    });
    return nullptr;
}

void SongTextLoader::finished(uint64_t generation, std::shared_ptr<const SongText> texts)
{
    if (generation != m_generation)
        return;
    m_texts = std::move(texts);
    emit loaded();
}
