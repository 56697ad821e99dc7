#include "platform/System.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace sequora::platform {

namespace {

namespace fs = std::filesystem;

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr uint32_t kVersionInfoSize = 148;
// What the platform reports itself as: the NT family, version 10.0.
constexpr uint32_t kReportedMajorVersion = 10;

// Bytes kept as they are in a token. Everything else (blanks, quotes, '%', control
// characters, bytes of non-ASCII characters) is written as %XX, so the token is one
// blank-free ASCII word that no quoting rule of the command parser can touch.
bool keptInToken(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
        || std::strchr("/\\.-_~+,:=@!()[]{}#&$;'", c) != nullptr;
}

std::string percentEncode(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c != 0 && keptInToken(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 0x0F];
        }
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// "%XX" becomes the byte XX; a '%' not followed by two hex digits stays as it is.
std::string percentDecode(std::string_view token)
{
    std::string out;
    out.reserve(token.size());
    for (std::size_t i = 0; i < token.size(); ++i) {
        if (token[i] == '%' && i + 2 < token.size() && hexValue(token[i + 1]) >= 0
            && hexValue(token[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(token[i + 1]) << 4 | hexValue(token[i + 2]));
            i += 2;
        } else {
            out += token[i];
        }
    }
    return out;
}

bool exists(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && fs::exists(fs::path(path), ec);
}

} // namespace

uint32_t GetShortPathNameA(const char* longPath, char* shortPath, uint32_t bufferSize)
{
    if (!longPath || !exists(longPath))
        return 0;
    // Absolute, so the token names the same file whatever the working directory is
    // when the device opens it, and never reads as a keyword such as "type".
    std::error_code ec;
    const fs::path absolute = fs::absolute(fs::path(longPath), ec);
    if (ec)
        return 0;
    const std::string token = percentEncode(absolute.string());
    // Like the system call: a buffer too small gets nothing, and the answer is the
    // size needed, NUL included, so the caller can tell it from success.
    if (!shortPath || token.size() + 1 > bufferSize)
        return static_cast<uint32_t>(token.size() + 1);
    std::memcpy(shortPath, token.c_str(), token.size() + 1);
    return static_cast<uint32_t>(token.size());
}

std::string resolveShortPath(std::string_view token)
{
    std::string decoded = percentDecode(token);
    // A path typed by hand may hold a literal "%20"; if only the literal file exists,
    // that is the one meant.
    if (decoded != token && !exists(decoded) && exists(std::string(token)))
        return std::string(token);
    return decoded;
}

bool GetVersionExA(OSVERSIONINFOA* info)
{
    if (!info || info->dwOSVersionInfoSize < kVersionInfoSize)
        return false;
    info->dwMajorVersion = kReportedMajorVersion;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 0;
    info->dwPlatformId = kVerPlatformWin32Nt;
    info->szCSDVersion[0] = '\0';
    return true;
}

} // namespace sequora::platform
