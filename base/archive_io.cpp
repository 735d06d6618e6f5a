#include "base/archive_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

std::atomic<size_t> g_readCalls{0};

// The descriptor every duplicate of one reader shares; closed with the last.
struct SharedFile {
    int fd = -1;
    uint64_t length = 0;
    ~SharedFile() {
        if (fd >= 0) ::close(fd);
    }
};

struct Reader {
    std::shared_ptr<SharedFile> file;
    uint64_t position = 0;
    // buffer holds the file's bytes [bufferStart, bufferStart + buffered).
    std::vector<uint8_t> buffer;
    uint64_t bufferStart = 0;
    size_t buffered = 0;
};

Reader* ReaderOf(PHYSFS_Io* io) { return static_cast<Reader*>(io->opaque); }

// Reads up to size bytes at offset, retrying interrupted and partial reads;
// the count read (short only at the end of the file), or -1.
int64_t ReadAt(int fd, uint8_t* out, size_t size, uint64_t offset) {
    size_t done = 0;
    while (done < size) {
        g_readCalls.fetch_add(1, std::memory_order_relaxed);
        const ssize_t got = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

PHYSFS_sint64 Read(PHYSFS_Io* io, void* out, PHYSFS_uint64 length) {
    Reader* reader = ReaderOf(io);
    const uint64_t fileLength = reader->file->length;
    if (reader->position >= fileLength || length == 0) return 0;
    length = std::min<uint64_t>(length, fileLength - reader->position);
    auto* target = static_cast<uint8_t*>(out);
    uint64_t copied = 0;
    while (copied < length) {
        const uint64_t at = reader->position;
        if (at >= reader->bufferStart && at < reader->bufferStart + reader->buffered) {
            const size_t offset = static_cast<size_t>(at - reader->bufferStart);
            const size_t take = static_cast<size_t>(std::min<uint64_t>(length - copied, reader->buffered - offset));
            std::memcpy(target + copied, reader->buffer.data() + offset, take);
            copied += take;
            reader->position += take;
            continue;
        }
        const uint64_t left = length - copied;
        if (left >= kArchiveReadBuffer) {
            // Large reads go straight to the caller's memory.
            const int64_t got = ReadAt(reader->file->fd, target + copied, static_cast<size_t>(left), at);
            if (got < 0) break;
            copied += static_cast<uint64_t>(got);
            reader->position += static_cast<uint64_t>(got);
            break;
        }
        if (reader->buffer.empty()) reader->buffer.resize(kArchiveReadBuffer);
        const int64_t got = ReadAt(reader->file->fd, reader->buffer.data(), kArchiveReadBuffer, at);
        reader->bufferStart = at;
        reader->buffered = got > 0 ? static_cast<size_t>(got) : 0;
        if (reader->buffered == 0) break;
    }
    if (copied == 0 && length > 0) {
        PHYSFS_setErrorCode(PHYSFS_ERR_IO);
        return -1;
    }
    return static_cast<PHYSFS_sint64>(copied);
}

int Seek(PHYSFS_Io* io, PHYSFS_uint64 offset) {
    Reader* reader = ReaderOf(io);
    if (offset > reader->file->length) {
        PHYSFS_setErrorCode(PHYSFS_ERR_PAST_EOF);
        return 0;
    }
    reader->position = offset;
    return 1;
}

PHYSFS_sint64 Tell(PHYSFS_Io* io) { return static_cast<PHYSFS_sint64>(ReaderOf(io)->position); }

PHYSFS_sint64 Length(PHYSFS_Io* io) { return static_cast<PHYSFS_sint64>(ReaderOf(io)->file->length); }

PHYSFS_Io* MakeIo(std::unique_ptr<Reader> reader);

PHYSFS_Io* Duplicate(PHYSFS_Io* io) {
    auto copy = std::make_unique<Reader>();
    copy->file = ReaderOf(io)->file;
    return MakeIo(std::move(copy));
}

int Flush(PHYSFS_Io*) { return 1; }

void Destroy(PHYSFS_Io* io) {
    delete ReaderOf(io);
    delete io;
}

PHYSFS_Io* MakeIo(std::unique_ptr<Reader> reader) {
    auto* io = new PHYSFS_Io{};
    io->version = 0;
    io->opaque = reader.release();
    io->read = Read;
    io->write = nullptr;
    io->seek = Seek;
    io->tell = Tell;
    io->length = Length;
    io->duplicate = Duplicate;
    io->flush = Flush;
    io->destroy = Destroy;
    return io;
}

}  // namespace

PHYSFS_Io* OpenArchiveIo(const std::string& path) {
    auto file = std::make_shared<SharedFile>();
    file->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file->fd < 0) return nullptr;
    struct stat info;
    if (::fstat(file->fd, &info) != 0) return nullptr;
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return nullptr;
    }
    file->length = static_cast<uint64_t>(info.st_size);
    auto reader = std::make_unique<Reader>();
    reader->file = std::move(file);
    return MakeIo(std::move(reader));
}

size_t ArchiveIoReadCalls() { return g_readCalls.load(std::memory_order_relaxed); }
