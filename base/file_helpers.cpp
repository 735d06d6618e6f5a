#include "base/file_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/message_output.h"
#include "base/paths.h"

namespace {

uint64_t OpenFileSize(std::FILE* file) { return StreamLength(file); }

uint64_t Remaining(uint64_t size, uint64_t position) {
    return position < size ? size - position : 0;
}

}  // namespace

void MemoryFile::Reset() {
    size_ = 0;
    position_ = 0;
    name_.clear();
    std::free(buffer_);
    buffer_ = nullptr;
}

uint64_t MemoryFile::Allocate(uint64_t size) {
    if (size == 0) return 0;
    std::free(buffer_);
    buffer_ = static_cast<uint8_t*>(std::malloc(size));
    position_ = 0;
    size_ = buffer_ != nullptr ? size : 0;
    return size_;
}

uint64_t MemoryFile::Read(void* destination, uint64_t count) {
    if (destination == nullptr || count == 0 || buffer_ == nullptr) return 0;
    const uint64_t copied = count < Remaining(size_, position_) ? count : Remaining(size_, position_);
    if (copied > 0) std::memcpy(destination, buffer_ + position_, copied);
    position_ += copied;
    return copied;
}

uint64_t MemoryFile::Write(const void* source, uint64_t count) {
    if (source == nullptr || count == 0 || buffer_ == nullptr) return 0;
    const uint64_t copied = count < Remaining(size_, position_) ? count : Remaining(size_, position_);
    if (copied > 0) std::memcpy(buffer_ + position_, source, copied);
    position_ += copied;
    return copied;
}

uint32_t MemoryFile::SaveToFile(const char* name) {
    if (name == nullptr) return 0;
    name_ = name;
    position_ = 0;
    std::FILE* file = OpenFile(name, "wb");
    if (file == nullptr) {
        PrintLine("Couldn't open file %s", name);
        return 0;
    }
    const size_t written = size_ > 0 ? std::fwrite(buffer_, 1, size_, file) : 0;
    const bool closed = std::fclose(file) == 0;
    if (written != size_ || !closed) {
        PrintLine("Couldn't write file %s", name);
        return 0;
    }
    return static_cast<uint32_t>(size_);
}

uint64_t MemoryFile::LoadFromFile(const char* name) {
    if (name == nullptr) return 0;
    size_ = 0;
    position_ = 0;
    name_ = name;
    std::FILE* file = OpenFile(name, "rb");
    if (file == nullptr) {
        PrintLine("Couldn't open file %s", name);
        return 0;
    }
    const uint64_t expected = OpenFileSize(file);
    std::free(buffer_);
    buffer_ = static_cast<uint8_t*>(std::malloc(expected + 1));
    if (buffer_ == nullptr) {
        std::fclose(file);
        PrintLine("Couldn't open file %s", name);
        return 0;
    }
    // A file that shrank while being read keeps what was there.
    const uint64_t got = expected > 0 ? std::fread(buffer_, 1, expected, file) : 0;
    buffer_[got] = 0;
    std::fclose(file);
    size_ = got;
    return size_;
}

uint32_t FileSize(const char* name) {
    std::FILE* file = OpenFile(name, "rb");
    if (file == nullptr) return 0;
    const uint64_t size = OpenFileSize(file);
    std::fclose(file);
    return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}

std::string FileExtension(const char* name) {
    if (name == nullptr) return {};
    const char* dot = std::strchr(name, '.');
    if (dot == nullptr) return {};
    const std::string extension(dot + 1);
    return extension.size() > 4 ? std::string("NOP") : extension;
}
