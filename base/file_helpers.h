// Whole-file helpers: binary files are read into one buffer and parsed with
// sequential reads, or built in a pre-sized buffer and saved in one call.
#pragma once

#include <cstdint>
#include <string>

class MemoryFile {
public:
    MemoryFile() = default;
    ~MemoryFile() { Reset(); }

    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Empties the file: no contents, empty name.
    void Reset();
    // Makes room for size bytes (contents undefined) to build a file in;
    // returns size, or 0 for a size of 0 or when memory runs out.
    uint64_t Allocate(uint64_t size);
    void Seek(uint64_t offset) { position_ = offset; }

    // Copy at most count bytes from (or to) the current position, never past
    // the end of the contents; return the number of bytes copied.
    uint64_t Read(void* destination, uint64_t count);
    uint64_t Write(const void* source, uint64_t count);

    // Writes the contents to name; returns the size written, 0 on failure.
    uint32_t SaveToFile(const char* name);
    // Reads the whole of name, with a zero byte after the contents so a text
    // file can be scanned as one string; returns the size, 0 on failure.
    uint64_t LoadFromFile(const char* name);

    const std::string& Name() const { return name_; }
    const uint8_t* Data() const { return buffer_; }
    uint8_t* Data() { return buffer_; }
    uint64_t Size() const { return size_; }
    uint64_t Position() const { return position_; }

private:
    std::string name_;
    uint8_t* buffer_ = nullptr;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
};

// Size in bytes of the named file, 0 when it cannot be opened. Sizes past the
// 32-bit range read as the largest 32-bit value.
uint32_t FileSize(const char* name);

// Everything after the first "." of name: empty text without a dot, "NOP"
// when more than four characters follow it.
std::string FileExtension(const char* name);
