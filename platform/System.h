#pragma once
// Stand-ins for the two system queries the device class makes.

#include <cstdint>
#include <string>
#include <string_view>

namespace sequora::platform {

/// Writes a blank-free token for an existing path into shortPath (NUL-terminated) and
/// returns its length; the MCI open command maps the token back to the same file. The
/// token is the absolute path with blanks, quotes, '%', control characters and
/// non-ASCII bytes percent-encoded; a path whose encoding would not fit bufferSize (long
/// paths in non-Latin scripts) gets a compact base64 form instead. Returns 0 and writes
/// nothing when the path names nothing that exists. When bufferSize is too small even
/// for the compact form it writes nothing and returns the size needed, NUL included
/// (always more than bufferSize), as the system call does.
uint32_t GetShortPathNameA(const char* longPath, char* shortPath, uint32_t bufferSize);

/// Maps a token made by GetShortPathNameA (or any plain path) back to the file path:
/// %XX sequences (or a compact base64 token) are decoded, unless only the literal path
/// exists. Used by the MCI open command.
std::string resolveShortPath(std::string_view token);

inline constexpr uint32_t kVerPlatformWin32Windows = 1;
inline constexpr uint32_t kVerPlatformWin32Nt = 2;

struct OSVERSIONINFOA {
    uint32_t dwOSVersionInfoSize = 148;
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    uint32_t dwPlatformId = 0;
    char szCSDVersion[128] = {};
};

/// Reports the NT family (this platform behaves like it: resume restarts playback).
bool GetVersionExA(OSVERSIONINFOA* info);

} // namespace sequora::platform
