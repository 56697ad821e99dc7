// The parts window's tick against its interval: the player (offscreen, on the engine's
// manual clock) plays hard cases with the window open, and each tick's worth of song the window
// samples the engine's parts and paints what changed. Prints the mean and the worst tick
// (sample and paint), and the worst against the interval (below 1: no late tick), beside
// the player's own monitor run measured the same way in the same run.
//
// Cases: 100 000 notes a minute on all sixteen parts; a program change on some part every
// 2 ms; 32 parts (a view of a second port, every part busy, given to the window as the
// engine will publish it).
//
//   bench_parts_window [SECONDS of song per case, default 20]

#include "player/PlayerTestKit.h"

#include "info/frmParts.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

using namespace sequora::test;
using sequora::midi::PartsView;
using sequora::midi::PartView;

namespace {

constexpr int kTickMs = frmParts::kSampleIntervalMs;

struct Timing {
    double totalMs = 0;
    double worstMs = 0;
    int ticks = 0;
    void add(double ms)
    {
        totalMs += ms;
        worstMs = std::max(worstMs, ms);
        ++ticks;
    }
    double meanMs() const { return ticks ? totalMs / ticks : 0; }
};

double timed(const std::function<void()>& work)
{
    QElapsedTimer t;
    t.start();
    work();
    return t.nsecsElapsed() / 1e6;
}

// @p seconds of notes on all sixteen parts at @p perMinute notes a minute, and, with
// @p programEveryMs, a program change on a part that often.
QString writeSong(
    const QTemporaryDir& dir, const char* name, int seconds, int perMinute, int programEveryMs)
{
    SmfWriter smf(1, 500); // a tick is a millisecond
    std::mt19937 random(11);
    const int notes = perMinute * seconds / 60;
    for (int part = 0; part < 16; ++part) {
        auto& t = smf.addTrack();
        uint32_t now = 0;
        const int mine = notes / 16;
        const uint32_t step = std::max<uint32_t>(1, uint32_t(seconds * 1000 / std::max(1, mine)));
        uint32_t nextProgram
            = programEveryMs > 0 ? uint32_t(part * programEveryMs / 16) : UINT32_MAX;
        for (int i = 0; i < mine; ++i) {
            const uint32_t at = uint32_t(i) * step;
            while (nextProgram <= at) {
                const uint32_t when = std::max(nextProgram, now);
                t.programChange(when - now, part, int(random() % 128));
                now = when;
                nextProgram += uint32_t(16 * programEveryMs);
            }
            const int key = 30 + int(random() % 70);
            t.noteOn(at - now, part, key, 40 + int(random() % 87));
            t.noteOff(std::min<uint32_t>(step, 40), part, key);
            now = at + std::min<uint32_t>(step, 40);
        }
    }
    const QString path = dir.filePath(QString::fromLatin1(name));
    smf.writeFile(QFile::encodeName(path).toStdString());
    return path;
}

void report(const char* name, const Timing& window, const Timing& monitor)
{
    std::printf("%-34s %6d %9.3f %9.3f ", name, window.ticks, window.meanMs(), window.worstMs);
    if (monitor.ticks > 0)
        std::printf("%9.3f %9.3f ", monitor.meanMs(), monitor.worstMs);
    else
        std::printf("%9s %9s ", "-", "-");
    std::printf("%8.3f\n", window.worstMs / kTickMs);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SEQUORA_MIDI_OUT", "manual");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    sequora::midi::engine::useManualClock();

    std::printf("%d s of song per case, a tick every %d ms; times in ms\n", seconds, kTickMs);
    std::printf("%-34s %6s %9s %9s %9s %9s %8s\n", "case", "ticks", "mean", "worst", "monitor",
        "worst", "late x");
    const struct {
        const char* name;
        int perMinute;
        int programEveryMs;
    } songs[] = {
        { "100 000 notes a minute", 100000, 0 },
        { "a program change every 2 ms", 6000, 2 },
    };
    for (const auto& s : songs) {
        Form1 form;
        form.Form_Load();
        setPlaylist(form,
            { writeSong(dir, s.name[0] == '1' ? "notes.mid" : "programs.mid", seconds, s.perMinute,
                s.programEveryMs) });
        form.mnuViewParts_Click();
        frmParts& window = *form.partsWindow();
        form.dispatch(&Form1::Command3_Click, &form);
        Timing ticks, monitor;
        for (int ms = 0; ms < seconds * 1000; ms += kTickMs) {
            sequora::midi::engine::advanceManualClock(kTickMs);
            monitor.add(timed([&] { form.Timer1_Timer(); }));
            ticks.add(timed([&] {
                window.tmrSample_Timer();
                QCoreApplication::processEvents(); // the paint of what changed
            }));
        }
        report(s.name, ticks, monitor);
    }

    {
        // A second port's sixteen parts, all busy: the view as the engine will publish it.
        Form1 form;
        form.Form_Load();
        form.mnuViewParts_Click();
        frmParts& window = *form.partsWindow();
        std::mt19937 random(5);
        PartsView view;
        view.partCount = PartsView::kMaxParts;
        Timing ticks, monitor;
        for (int ms = 0; ms < seconds * 1000; ms += kTickMs) {
            for (PartView& p : view.parts) {
                p.flags = PartView::Used;
                p.program = uint8_t(random() % 128);
                p.level = uint8_t(random() % 128);
                p.keys
                    = { uint64_t(random()) << 32 | random(), uint64_t(random()) << 32 | random() };
            }
            ++view.serial;
            ticks.add(timed([&] {
                window.display(view, true, kTickMs);
                QCoreApplication::processEvents();
            }));
        }
        report("32 parts, each changing every tick", ticks, monitor);
    }
    std::printf(
        "(late x: the worst tick against the %d ms interval; monitor: the player's own run)\n",
        kTickMs);
    return 0;
}
