#include "platform/midi/file/Song.h"

#include "platform/midi/file/MemoryHint.h"
#include "platform/midi/file/SmfReader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace sequora::midi {

namespace {

ReadResult failure(ReadStatus status, std::string message) { return {status, std::move(message)}; }

ReadResult ioFailure(int error)
{
    if (error == ENOENT || error == ENOTDIR)
        return failure(ReadStatus::NotFound, "no such file");
    return failure(ReadStatus::Unreadable, std::string("cannot read the file: ") + std::strerror(error));
}

// Closes the descriptor on every way out.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Checks what the path names before anything opens it: opening a FIFO for reading would
// block until a writer comes, and a device such as /dev/zero never ends.
ReadResult checkPath(const std::filesystem::path& path)
{
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(path, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory)
            return failure(ReadStatus::NotFound, "no such file");
        return failure(ReadStatus::Unreadable, "cannot read the file: " + ec.message());
    }
    if (st.type() == std::filesystem::file_type::directory)
        return failure(ReadStatus::NotRegularFile, "this is a folder, not a MIDI file");
    if (st.type() != std::filesystem::file_type::regular)
        return failure(ReadStatus::NotRegularFile, "this is a device or pipe, not a MIDI file");
    return {ReadStatus::Complete, {}};
}

ReadResult checkSize(uint64_t size)
{
    if (size == 0)
        return failure(ReadStatus::Empty, "the file is empty");
    if (size > Song::kMaxFileSize)
        return failure(ReadStatus::TooLarge, "the file is too large to be a MIDI song");
    return {ReadStatus::Complete, {}};
}

} // namespace

ReadResult Song::readFile(const std::string& path, FileBytes& out)
{
    out = FileBytes();
    if (path.empty())
        return failure(ReadStatus::NotFound, "no file name");
    if (ReadResult r = checkPath(path); r.status != ReadStatus::Complete)
        return r;

    // O_NONBLOCK: should the path turn into a FIFO after the check, open() still
    // returns at once, and fstat() below refuses it.
    FileDescriptor file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (file.fd < 0)
        return ioFailure(errno);
    struct stat st {};
    if (::fstat(file.fd, &st) != 0)
        return ioFailure(errno);
    if (!S_ISREG(st.st_mode))
        return failure(ReadStatus::NotRegularFile, "this is a device or pipe, not a MIDI file");
    if (ReadResult r = checkSize(uint64_t(st.st_size)); r.status != ReadStatus::Complete)
        return r;

    // One read of the whole file; the buffer is not zeroed first.
    const std::size_t size = std::size_t(st.st_size);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer)
        return failure(ReadStatus::TooLarge, "not enough memory to read this file");
    adviseHugePages(buffer.get(), size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(file.fd, buffer.get() + got, size - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ioFailure(errno);
        }
        if (n == 0)
            break; // shrank while we read: take what is there
        got += std::size_t(n);
    }
    out.data = std::move(buffer);
    out.size = got;
    return {ReadStatus::Complete, {}};
}

ReadResult Song::load(const std::string& path, Song& out)
{
    out = Song();
    FileBytes file;
    if (ReadResult r = readFile(path, file); r.status != ReadStatus::Complete)
        return r;
    return parse(file.bytes(), out);
}

ReadResult Song::parse(std::span<const uint8_t> bytes, Song& out)
{
    try {
        return SmfReader(out).read(bytes);
    } catch (const std::bad_alloc&) {
        out = Song();
        return failure(ReadStatus::TooLarge, "not enough memory to read this file");
    }
}

} // namespace sequora::midi
