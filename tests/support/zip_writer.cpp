#include "support/zip_writer.h"

#include <zlib.h>

#include <filesystem>
#include <fstream>

namespace {

void Put16(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>* out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::string RawDeflate(const std::string& contents) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, contents.size()) + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(contents.data()));
    stream.avail_in = static_cast<uInt>(contents.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

uint32_t Crc(const std::string& contents) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(contents.data()), static_cast<uInt>(contents.size())));
}

}  // namespace

// The fields the local header and the central directory share, from the
// version needed to the name's length.
void ZipWriter::PutSharedFields(std::vector<uint8_t>* out, const Entry& entry) {
    Put16(out, 20);
    Put16(out, 0);
    Put16(out, entry.method);
    Put16(out, 0);
    Put16(out, 0x21);
    Put32(out, entry.crc);
    Put32(out, static_cast<uint32_t>(entry.data.size()));
    Put32(out, entry.size);
    Put16(out, static_cast<uint32_t>(entry.name.size()));
}

void ZipWriter::Add(const std::string& name, const std::string& contents, bool deflate) {
    entries_.push_back({name, deflate ? RawDeflate(contents) : contents, static_cast<uint16_t>(deflate ? 8 : 0),
                        Crc(contents), static_cast<uint32_t>(contents.size())});
}

void ZipWriter::AddWithDeclaredSize(const std::string& name, const std::string& contents, uint32_t declaredSize) {
    entries_.push_back({name, RawDeflate(contents), 8, Crc(contents), declaredSize});
}

std::vector<uint8_t> ZipWriter::Bytes() const {
    std::vector<uint8_t> out;
    std::vector<uint32_t> offsets;
    for (const Entry& entry : entries_) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        Put32(&out, 0x04034b50);
        PutSharedFields(&out, entry);
        Put16(&out, 0);
        out.insert(out.end(), entry.name.begin(), entry.name.end());
        out.insert(out.end(), entry.data.begin(), entry.data.end());
    }
    const uint32_t directory = static_cast<uint32_t>(out.size());
    for (size_t i = 0; i < entries_.size(); ++i) {
        const Entry& entry = entries_[i];
        Put32(&out, 0x02014b50);
        Put16(&out, 20);  // made by
        PutSharedFields(&out, entry);
        Put16(&out, 0);
        Put16(&out, 0);
        Put16(&out, 0);
        Put16(&out, 0);
        Put32(&out, 0);
        Put32(&out, offsets[i]);
        out.insert(out.end(), entry.name.begin(), entry.name.end());
    }
    const uint32_t directorySize = static_cast<uint32_t>(out.size()) - directory;
    Put32(&out, 0x06054b50);
    Put16(&out, 0);
    Put16(&out, 0);
    Put16(&out, static_cast<uint32_t>(entries_.size()));
    Put16(&out, static_cast<uint32_t>(entries_.size()));
    Put32(&out, directorySize);
    Put32(&out, directory);
    Put16(&out, 0);
    return out;
}

bool ZipWriter::WriteTo(const std::string& path) const {
    std::error_code ignored;
    const std::filesystem::path target(path);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::vector<uint8_t> bytes = Bytes();
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}
