// The buffered reader behind mounted archives: the bytes PhysFS asks for,
// wherever the reads fall against the buffer, from few system calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/archive_files.h"
#include "base/archive_io.h"
#include "base/paths.h"
#include "support/test_support.h"
#include "support/zip_writer.h"

namespace {

struct IoDeleter {
    void operator()(PHYSFS_Io* io) const {
        if (io != nullptr) io->destroy(io);
    }
};
using IoPtr = std::unique_ptr<PHYSFS_Io, IoDeleter>;

// Bytes whose value tells their position, so a read from the wrong place shows.
std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes;
}

std::string ReadBytes(PHYSFS_Io* io, size_t count) {
    std::string out(count, '\0');
    const PHYSFS_sint64 got = io->read(io, out.data(), count);
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
}

}  // namespace

TEST(ArchiveIo, ReadsAnyRangeFromTheBufferOrStraightThrough) {
    ScratchFolder folder;
    const size_t size = kArchiveReadBuffer * 3 + 1234;
    const std::string bytes = Pattern(size);
    folder.Write("data.bin", bytes);
    IoPtr io(OpenArchiveIo(folder.Path() + "/data.bin"));
    ASSERT_NE(io, nullptr);
    EXPECT_EQ(io->length(io.get()), static_cast<PHYSFS_sint64>(size));

    // Small reads walk the file a buffer at a time.
    const size_t before = ArchiveIoReadCalls();
    std::string walked;
    while (walked.size() < size) {
        const std::string piece = ReadBytes(io.get(), 46);
        ASSERT_FALSE(piece.empty());
        walked += piece;
    }
    EXPECT_EQ(walked, bytes);
    EXPECT_LE(ArchiveIoReadCalls() - before, 5u);
    EXPECT_EQ(io->tell(io.get()), static_cast<PHYSFS_sint64>(size));
    EXPECT_EQ(io->read(io.get(), walked.data(), 10), 0);  // at the end

    // A read that starts inside the buffer and runs past it.
    ASSERT_NE(io->seek(io.get(), kArchiveReadBuffer - 10), 0);
    EXPECT_EQ(ReadBytes(io.get(), 4), bytes.substr(kArchiveReadBuffer - 10, 4));
    EXPECT_EQ(ReadBytes(io.get(), 100), bytes.substr(kArchiveReadBuffer - 6, 100));
    // Backwards, and a large read that goes past the buffer to the end.
    ASSERT_NE(io->seek(io.get(), 3), 0);
    EXPECT_EQ(ReadBytes(io.get(), size), bytes.substr(3));
    // Beyond the end is refused; the end itself is a place to be.
    EXPECT_EQ(io->seek(io.get(), size + 1), 0);
    EXPECT_NE(io->seek(io.get(), size), 0);
}

TEST(ArchiveIo, DuplicatesKeepTheirOwnPlaceAndOutliveTheOriginal) {
    ScratchFolder folder;
    const std::string bytes = Pattern(kArchiveReadBuffer + 500);
    folder.Write("data.bin", bytes);
    IoPtr original(OpenArchiveIo(folder.Path() + "/data.bin"));
    ASSERT_NE(original, nullptr);
    ASSERT_NE(original->seek(original.get(), 100), 0);
    IoPtr copy(original->duplicate(original.get()));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->tell(copy.get()), 0);
    EXPECT_EQ(ReadBytes(original.get(), 8), bytes.substr(100, 8));
    EXPECT_EQ(ReadBytes(copy.get(), 8), bytes.substr(0, 8));
    original.reset();
    ASSERT_NE(copy->seek(copy.get(), kArchiveReadBuffer + 490), 0);
    EXPECT_EQ(ReadBytes(copy.get(), 50), bytes.substr(kArchiveReadBuffer + 490));
}

TEST(ArchiveIo, OnlyRegularFilesOpen) {
    ScratchFolder folder;
    EXPECT_EQ(OpenArchiveIo(folder.Path()), nullptr);
    EXPECT_EQ(OpenArchiveIo(folder.Path() + "/missing.pk3"), nullptr);
}

TEST(ArchiveIo, MountingAnArchiveOfManyEntriesTakesFewReads) {
    ScratchFolder folder;
    ZipWriter zip;
    for (int i = 0; i < 3000; ++i) zip.Add("textures/set" + std::to_string(i % 7) + "/image" + std::to_string(i), "x");
    zip.Add("scripts/last.cfg", "the last entry");
    ASSERT_TRUE(zip.WriteTo(folder.Path() + "/data/pak0.pk3"));

    const size_t before = ArchiveIoReadCalls();
    EXPECT_EQ(MountDataFolders({folder.Path() + "/data"}), 1);
    // The directory alone is 3001 headers: unbuffered, that many reads.
    EXPECT_LT(ArchiveIoReadCalls() - before, 100u);
    std::FILE* file = OpenFile("scripts/last.cfg", "rb");
    ASSERT_NE(file, nullptr);
    char text[64] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, file), 14u);
    std::fclose(file);
    EXPECT_STREQ(text, "the last entry");
    UnmountDataFolders();
}
