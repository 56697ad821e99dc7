#pragma once
// The sequencer device class: one MIDI file at a time under the alias "midifile".

#include <cstdint>
#include <memory>
#include <string>

class clsMIDI {
public:
    clsMIDI(); // Class_Initialize
    ~clsMIDI(); // Class_Terminate
    clsMIDI(const clsMIDI&) = delete;
    clsMIDI& operator=(const clsMIDI&) = delete;

    std::string FileName() const;
    void FileName(const std::string& path);
    void Play();
    void StopM();
    std::string Position();
    void Position(const std::string& where);
    int32_t Length();
    void ResumeM();
    void PlayLoop();
    void Pause();
    std::string Mode();

private:
    bool IsWinNT();
    std::string queryStatus(const char* command);

    std::string m_fileName;
    std::string m_shortPath;
    std::string m_reply;
    bool m_loop = false;
    // Cleared on release, so a PlayLoop running below the handler that released the
    // instance stops instead of touching freed state.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
