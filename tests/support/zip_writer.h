// Writes small .pk3 (zip) archives for tests, including the broken and
// hostile kinds: entries whose headers lie about their sizes, names that try
// to climb out of the archive, truncated files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ZipWriter {
public:
    // A stored or deflated entry with honest sizes.
    void Add(const std::string& name, const std::string& contents, bool deflate = true);
    // An entry whose headers declare declaredSize bytes after inflating,
    // whatever the data really holds.
    void AddWithDeclaredSize(const std::string& name, const std::string& contents, uint32_t declaredSize);

    std::vector<uint8_t> Bytes() const;
    // Writes Bytes() (folders are created); false on failure.
    bool WriteTo(const std::string& path) const;

private:
    struct Entry {
        std::string name;
        std::string data;  // as stored in the archive
        uint16_t method;   // 0 stored, 8 deflated
        uint32_t crc;
        uint32_t size;     // declared size after inflating
    };
    static void PutSharedFields(std::vector<uint8_t>* out, const Entry& entry);

    std::vector<Entry> entries_;
};
