#pragma once
// A SoundFont's outline, read without loading it: its own name (INAM) and whether its
// chunks are all there and whole. Lets a soundfont be refused before the one in use is
// let go of, and lists installed soundfonts by name.

#include <string>

namespace sequora::midi {

struct SoundFontInfo {
    enum class Problem {
        None,
        Missing, ///< no such file, or not a regular file
        Unreadable, ///< it cannot be opened or read
        NotSoundFont, ///< no RIFF sfbk, or a part a SoundFont must have is not there
        CutShort, ///< a chunk runs past the end of the file
        Damaged, ///< whole in outline, but the synthesiser could not load it
    };
    Problem problem = Problem::None;
    /// The name the font gives itself (INAM), as written; empty when it gives none.
    std::string name;
    /// 2 for SF2, 3 for SF3 (compressed samples).
    int version = 0;

    bool ok() const { return problem == Problem::None; }
};

/// Reads path's RIFF outline: the INFO, sdta and pdta lists, the chunks a SoundFont must
/// have (ifil, smpl, and the nine preset, instrument and sample tables with records of
/// whole size), each within the file.
SoundFontInfo readSoundFontInfo(const std::string& path);

} // namespace sequora::midi
