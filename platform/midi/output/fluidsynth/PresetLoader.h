#pragma once
// The live output's loader thread: reads the soundfont, then each song's presets as the
// output asks, so that neither the window nor the audio callback waits for the disk.
// While it reads, the synthesiser is its own: the callback renders silence and the
// transport holds still (preparing()).

#include "platform/midi/module/PartMap.h"
#include "platform/midi/output/effects/EffectRack.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sequora::midi {

class FluidSynthCore;

class PresetLoader {
public:
    struct Hooks {
        /// On the loader thread once the soundfont is read, or failed to (@p error says why).
        std::function<void(bool loaded, const std::string& error)> soundfontRead;
        /// On the loader thread once the presets last asked for are there.
        std::function<void()> presetsRead;
    };

    /// @p callbackMutex: held by the audio callback while it works with @p core.
    PresetLoader(FluidSynthCore& core, std::mutex& callbackMutex)
        : m_core(core)
        , m_callbackMutex(callbackMutex)
    {
    }
    ~PresetLoader() { stop(); }
    PresetLoader(const PresetLoader&) = delete;
    PresetLoader& operator=(const PresetLoader&) = delete;

    /// Starts the thread, which reads @p soundfont first.
    void start(const std::string& soundfont, Hooks hooks);
    /// Ends the thread once what it reads now is read.
    void stop();
    /// Reads @p wanted and lets go of the presets no longer wanted, and sets the soft synth
    /// up for what the song asks of the effect section (@p effects); preparing() until then.
    void prepare(std::vector<PresetRequest> wanted, const effects::EffectRack::Needs& effects = {});
    /// Presets are being read: the callback leaves the synthesiser and the transport alone.
    bool preparing() const { return m_preparing.load(std::memory_order_acquire); }

private:
    void run();
    void readSoundfont(const std::string& soundfont);
    void readPresets(
        const std::vector<PresetRequest>& wanted, const effects::EffectRack::Needs& effects);

    FluidSynthCore& m_core;
    std::mutex& m_callbackMutex;
    Hooks m_hooks;
    bool m_loaded = false; ///< the loader thread's own: the soundfont is there
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::string m_soundfont; ///< guarded by m_mutex: to be read next, if not empty
    std::vector<PresetRequest> m_wanted; ///< guarded by m_mutex
    effects::EffectRack::Needs m_effects; ///< guarded by m_mutex
    bool m_wantedNew = false; ///< guarded by m_mutex
    bool m_quit = false; ///< guarded by m_mutex
    std::atomic<bool> m_preparing { false };
    std::thread m_thread;
};

} // namespace sequora::midi
