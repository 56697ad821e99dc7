#pragma once
// The files the mode probes play: a piece written in milliseconds (one tick a millisecond),
// the messages added to it, and GS and XG data sets.

#include "common/SmfWriter.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace sequora::bench {

using test::Bytes;
using test::SmfWriter;

constexpr int kPieceMs = 2500;

/// A GS data set (DT1) with its checksum, or with a wrong one.
inline Bytes gs(uint8_t a1, uint8_t a2, uint8_t a3, Bytes data, bool badChecksum = false)
{
    Bytes msg { 0x41, 0x10, 0x42, 0x12, a1, a2, a3 };
    unsigned sum = a1 + a2 + a3;
    for (uint8_t d : data) {
        msg.push_back(d);
        sum += d;
    }
    msg.push_back(static_cast<uint8_t>(((128 - sum % 128) % 128) ^ (badChecksum ? 1 : 0)));
    msg.push_back(0xF7);
    return msg;
}

inline Bytes xg(uint8_t a1, uint8_t a2, uint8_t a3, Bytes data)
{
    Bytes msg { 0x43, 0x10, 0x4C, a1, a2, a3 };
    msg.insert(msg.end(), data.begin(), data.end());
    msg.push_back(0xF7);
    return msg;
}

inline const Bytes kGsReset = gs(0x40, 0x00, 0x7F, { 0x00 });
inline const Bytes kXgOn { 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7 };
inline const Bytes kGm2On { 0x7E, 0x7F, 0x09, 0x03, 0xF7 };
inline const Bytes kGm1On { 0x7E, 0x7F, 0x09, 0x01, 0xF7 };

/// A piece in milliseconds, written out as one track at one tick a millisecond.
class Score {
public:
    Score& sysex(int ms, Bytes msg) { return add(ms, true, std::move(msg)); }
    Score& cc(int ms, int ch, int number, int value)
    {
        return add(ms, false, { uint8_t(0xB0 | ch), uint8_t(number), uint8_t(value) });
    }
    Score& program(int ms, int ch, int program)
    {
        return add(ms, false, { uint8_t(0xC0 | ch), uint8_t(program), 0 });
    }
    Score& bend(int ms, int ch, int value)
    {
        return add(ms, false, { uint8_t(0xE0 | ch), uint8_t(value & 0x7F), uint8_t(value >> 7) });
    }
    /// The events after this one, in time, go to @p port (FF 21 01 pp).
    Score& port(int ms, int port)
    {
        add(ms, false, { uint8_t(port) });
        m_events.back().port = true;
        return *this;
    }
    Score& note(int on, int off, int ch, int key, int velocity)
    {
        add(on, false, { uint8_t(0x90 | ch), uint8_t(key), uint8_t(velocity) });
        return add(off, false, { uint8_t(0x80 | ch), uint8_t(key), 0x40 });
    }

    SmfWriter file() const
    {
        std::vector<Event> sorted = m_events;
        std::stable_sort(sorted.begin(), sorted.end(),
            [](const Event& a, const Event& b) { return a.ms < b.ms; });
        SmfWriter smf(0, 480);
        auto& t = smf.addTrack();
        t.tempo(0, 480000); // 480 ticks a quarter: a tick is a millisecond
        int now = 0;
        for (const Event& e : sorted) {
            const auto delta = static_cast<uint32_t>(e.ms - now);
            if (e.port)
                t.meta(delta, 0x21, e.bytes);
            else if (e.sysex)
                t.sysex(delta, e.bytes);
            else
                t.channel(delta, e.bytes[0], e.bytes[1], e.bytes[2]);
            now = e.ms;
        }
        t.endOfTrack(static_cast<uint32_t>(kPieceMs - now));
        return smf;
    }

private:
    struct Event {
        int ms;
        bool sysex;
        Bytes bytes;
        bool port = false;
    };
    Score& add(int ms, bool sysex, Bytes bytes)
    {
        m_events.push_back({ ms, sysex, std::move(bytes) });
        return *this;
    }
    std::vector<Event> m_events;
};

using Adder = std::function<void(Score&)>;

inline Adder sysex(Bytes msg)
{
    return [msg](Score& s) { s.sysex(0, msg); };
}
inline Adder ccs(std::vector<std::pair<int, int>> list, int ch = 0, int ms = 0)
{
    return [=](Score& s) {
        for (auto [n, v] : list)
            s.cc(ms, ch, n, v);
    };
}
inline Adder nrpn(int msb, int lsb, int value, int ch = 0)
{
    return ccs({ { 99, msb }, { 98, lsb }, { 6, value } }, ch);
}
inline Adder rpn(int lsb, int value)
{
    return ccs({ { 101, 0 }, { 100, lsb }, { 6, value }, { 101, 127 }, { 100, 127 } });
}
inline Adder both(Adder a, Adder b)
{
    return [a, b](Score& s) {
        if (a)
            a(s);
        if (b)
            b(s);
    };
}

} // namespace sequora::bench
