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

// Paths whose percent-encoded form does not fit the caller's buffer (long paths in
// Japanese: each byte of a kana or kanji takes three characters) get a compact token:
// this prefix and the path in URL-safe base64, only a third longer than the path.
// Absolute percent-encoded tokens start with '/', so the two never meet.
constexpr std::string_view kCompactPrefix = "~b64~";
constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    uint32_t bits = 0;
    int count = 0;
    for (unsigned char c : bytes) {
        bits = bits << 8 | c;
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += kBase64Digits[(bits >> count) & 0x3F];
        }
    }
    if (count > 0)
        out += kBase64Digits[(bits << (6 - count)) & 0x3F];
    return out;
}

// Empty when text is not base64 of the URL-safe alphabet.
std::string base64Decode(std::string_view text)
{
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const char* digit = std::strchr(kBase64Digits, c);
        if (c == '\0' || digit == nullptr)
            return {};
        bits = bits << 6 | static_cast<uint32_t>(digit - kBase64Digits);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
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
    std::string token = percentEncode(absolute.string());
    if (token.size() + 1 > bufferSize) {
        std::string compact = std::string(kCompactPrefix) + base64Encode(absolute.string());
        if (compact.size() < token.size())
            token = std::move(compact);
    }
    // Like the system call: a buffer too small gets nothing, and the answer is the
    // size needed, NUL included, so the caller can tell it from success.
    if (!shortPath || token.size() + 1 > bufferSize)
        return static_cast<uint32_t>(token.size() + 1);
    std::memcpy(shortPath, token.c_str(), token.size() + 1);
    return static_cast<uint32_t>(token.size());
}

std::string resolveShortPath(std::string_view token)
{
    if (token.starts_with(kCompactPrefix)) {
        // As with %XX: a file literally named so wins only when the decoding names none.
        std::string decoded = base64Decode(token.substr(kCompactPrefix.size()));
        if (!decoded.empty() && (exists(decoded) || !exists(std::string(token))))
            return decoded;
        return std::string(token);
    }
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
