// Writes the piece of game music the loop benchmarks and tests play, to listen to it in
// the player or render it: its loop marked by markers, by CC 111, and written out three
// times without marks.
//
//   build/bench/write_looped_songs [FOLDER]     (default: the current folder)

#include "common/LoopedSong.h"

#include <cstdio>
#include <filesystem>

using namespace sequora::test;

int main(int argc, char** argv)
{
    const std::filesystem::path dir = argc > 1 ? argv[1] : ".";
    const struct {
        const char* name;
        Bytes bytes;
    } songs[] = {
        { "looped_markers.mid", loopedSong(LoopMark::Markers) },
        { "looped_cc111.mid", loopedSong(LoopMark::Controller) },
        { "looped_written_out.mid", loopedSong(LoopMark::None, 3) },
    };
    for (const auto& song : songs) {
        SmfWriter::writeBytes(dir / song.name, song.bytes);
        std::printf("%s\n", (dir / song.name).c_str());
    }
    return 0;
}
