#include "platform/midi/output/fluidsynth/PresetLoader.h"

#include "platform/midi/output/fluidsynth/FluidSynthCore.h"

#include <utility>

namespace sequora::midi {

void PresetLoader::start(const std::string& soundfont, Hooks hooks)
{
    m_hooks = std::move(hooks);
    {
        std::lock_guard lock(m_mutex);
        m_soundfont = soundfont;
    }
    m_thread = std::thread([this] { run(); });
}

void PresetLoader::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_cv.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void PresetLoader::prepare(
    std::vector<PresetRequest> wanted, const effects::EffectRack::Needs& effects)
{
    {
        std::lock_guard lock(m_mutex);
        m_wanted = std::move(wanted);
        m_effects = effects;
        m_wantedNew = true;
        m_preparing.store(true);
    }
    m_cv.notify_one();
}

void PresetLoader::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_quit || !m_soundfont.empty() || m_wantedNew; });
        if (m_quit)
            return;
        if (!m_soundfont.empty()) {
            // A soundfont comes before any presets: they are read from it.
            const std::string soundfont = std::exchange(m_soundfont, {});
            lock.unlock();
            readSoundfont(soundfont);
            lock.lock();
            continue;
        }
        const std::vector<PresetRequest> wanted = std::exchange(m_wanted, {});
        const effects::EffectRack::Needs effects = m_effects;
        m_wantedNew = false;
        lock.unlock();
        readPresets(wanted, effects);
        lock.lock();
        if (!m_wantedNew) {
            m_preparing.store(false);
            lock.unlock();
            m_hooks.presetsRead();
            lock.lock();
        }
    }
}

void PresetLoader::readSoundfont(const std::string& soundfont)
{
    std::string error;
    m_loaded = m_core.loadSoundfont(soundfont, error);
    m_hooks.soundfontRead(m_loaded, error);
}

void PresetLoader::readPresets(
    const std::vector<PresetRequest>& wanted, const effects::EffectRack::Needs& effects)
{
    {
        // A callback that began before the flag was set has finished with the synth.
        std::lock_guard work(m_callbackMutex);
    }
    if (!m_loaded)
        return;
    // The song being replaced lets go of its presets here, not in the callback: its parts
    // go back to power-on (the transport's own reset follows anyway), so the samples no
    // longer wanted are freed on this thread.
    m_core.reset();
    m_core.usePresets(wanted, effects);
}

} // namespace sequora::midi
