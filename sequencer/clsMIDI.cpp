#include "sequencer/clsMIDI.h"

#include "platform/System.h"
#include "platform/mci/mci.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <thread>

using sequora::platform::mciSendStringA;

namespace {

constexpr unsigned kReplyCapacity = 15;
constexpr std::size_t kReplyBufferSize = 16;
constexpr std::size_t kShortPathBufferSize = 512;
constexpr std::size_t kModeWordLength = 7;
// Between two mode polls of PlayLoop: short enough to restart at once, long enough
// that the loop does not spin a core.
constexpr int kPollIntervalMs = 10;

void send(const char* command)
{
    mciSendStringA(command, nullptr, 0, nullptr);
}

// Lets other handlers run (one of them ends PlayLoop), waiting briefly instead of
// polling back to back.
void waitAndProcessEvents()
{
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
        return;
    }
    QEventLoop wait;
    QTimer::singleShot(kPollIntervalMs, &wait, &QEventLoop::quit);
    wait.exec();
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

} // namespace

clsMIDI::clsMIDI()
{
    send("stop midifile ");
    send("close midifile");
}

clsMIDI::~clsMIDI()
{
    *m_alive = false;
    send("stop midifile ");
    send("close midifile");
}

std::string clsMIDI::FileName() const
{
    return m_fileName;
}

void clsMIDI::FileName(const std::string& path)
{
    m_fileName = path;
    m_shortPath = path;
    std::string buffer(kShortPathBufferSize, '\0');
    sequora::platform::GetShortPathNameA(
        m_shortPath.c_str(), buffer.data(), static_cast<uint32_t>(kShortPathBufferSize));
    m_shortPath = buffer.substr(0, buffer.find('\0'));
    send("stop midifile ");
    send("close midifile");
    send(("open " + m_shortPath + " type sequencer alias midifile").c_str());
}

void clsMIDI::Play()
{
    send("stop midifile ");
    send("play midifile");
    m_loop = false;
}

void clsMIDI::StopM()
{
    send("stop midifile ");
    m_loop = false;
}

std::string clsMIDI::queryStatus(const char* command)
{
    m_reply.assign(kReplyBufferSize, '\0');
    mciSendStringA(command, m_reply.data(), kReplyCapacity, nullptr);
    return m_reply.substr(0, m_reply.find('\0'));
}

std::string clsMIDI::Position()
{
    return queryStatus("status midifile position");
}

void clsMIDI::Position(const std::string& where)
{
    send(("seek midifile to " + where).c_str());
}

int32_t clsMIDI::Length()
{
    // An empty or non-numeric reply (no file open) counts as a length of 0.
    const std::string reply = queryStatus("status midifile length");
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(reply.data(), reply.data() + reply.size(), value);
    if (ec != std::errc() || end != reply.data() + reply.size())
        return 0;
    return value;
}

void clsMIDI::ResumeM()
{
    if (!IsWinNT()) {
        send("resume midifile ");
    } else if (m_loop) {
        PlayLoop();
    } else {
        Play();
    }
}

void clsMIDI::PlayLoop()
{
    send("play midifile");
    m_loop = true;
    const std::shared_ptr<bool> alive = m_alive;
    for (;;) {
        waitAndProcessEvents();
        if (!*alive)
            return;

        m_reply.assign(kReplyBufferSize, ' ');
        mciSendStringA("status midifile mode", m_reply.data(), kReplyCapacity, nullptr);
        if (upper(m_reply.substr(0, kModeWordLength)) == "STOPPED") {
            if (!m_loop)
                return;
            send("play midifile from 0");
        }
    }
}

void clsMIDI::Pause()
{
    send("pause midifile ");
}

std::string clsMIDI::Mode()
{
    return upper(queryStatus("status midifile mode"));
}

bool clsMIDI::IsWinNT()
{
    sequora::platform::OSVERSIONINFOA info;
    info.dwOSVersionInfoSize = 148;
    sequora::platform::GetVersionExA(&info);
    return info.dwPlatformId == sequora::platform::kVerPlatformWin32Nt;
}
