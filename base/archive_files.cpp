#include "base/archive_files.h"

#include <dirent.h>
#include <physfs.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "base/archive_io.h"
#include "base/message_output.h"

namespace {

// One folder of the merged archives: its entries by lower-case name, each
// with every spelling the archives use.
struct FolderListing {
    std::unordered_map<std::string, std::vector<std::string>> byLowerName;
};

struct ArchiveState {
    bool initialised = false;
    std::vector<std::string> sources;  // search order
    std::vector<std::pair<std::string, int>> folders;  // each folder and its archives mounted
    // The folders listed so far for lookups that ignore case, by their exact
    // name. The archives hold over a hundred thousand entries, so folders are
    // listed only when a lookup needs them.
    std::unordered_map<std::string, FolderListing> listings;
};

ArchiveState& State() {
    static ArchiveState state;
    return state;
}

uint64_t g_generation = 0;

// The mounted state may be used from more than one thread (the shader
// scripts are read while the video starts): every public function below
// holds this lock while it looks at the state.
std::recursive_mutex& StateLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::string LastPhysfsError() {
    const char* text = PHYSFS_getErrorByCode(PHYSFS_getLastErrorCode());
    return text != nullptr ? text : "unknown error";
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool HasArchiveExtension(const char* name) {
    const size_t length = std::strlen(name);
    return length > 4 && ::strcasecmp(name + length - 4, ".pk3") == 0;
}

// The archive spelling of an engine path: "/" separators, no empty or "."
// components. Absolute names and names with ".." are refused (empty result):
// nothing outside the mounted sources can be named.
std::string ArchiveName(const char* path) {
    if (path == nullptr || path[0] == '\0' || path[0] == '/' || path[0] == '\\') return {};
    std::string result;
    const char* start = path;
    while (true) {
        const char* end = start;
        while (*end != '\0' && *end != '/' && *end != '\\') ++end;
        const std::string component(start, end);
        if (component == "..") return {};
        if (!component.empty() && component != ".") {
            if (!result.empty()) result += '/';
            result += component;
        }
        if (*end == '\0') break;
        start = end + 1;
    }
    return result;
}

size_t SourcePriority(const std::string& name) {
    const char* source = PHYSFS_getRealDir(name.c_str());
    const std::vector<std::string>& sources = State().sources;
    if (source != nullptr) {
        for (size_t i = 0; i < sources.size(); ++i) {
            if (sources[i] == source) return i;
        }
    }
    return sources.size();
}

PHYSFS_EnumerateCallbackResult CollectName(void* data, const char*, const char* name) {
    auto* listing = static_cast<FolderListing*>(data);
    listing->byLowerName[Lower(name)].emplace_back(name);
    return PHYSFS_ENUM_OK;
}

const FolderListing& ListingOf(const std::string& folder) {
    std::unordered_map<std::string, FolderListing>& listings = State().listings;
    const auto found = listings.find(folder);
    if (found != listings.end()) return found->second;
    FolderListing& listing = listings[folder];
    PHYSFS_enumerate(folder.c_str(), CollectName, &listing);
    return listing;
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

PHYSFS_FileType EntryType(const std::string& name) {
    PHYSFS_Stat info;
    if (PHYSFS_stat(name.c_str(), &info) == 0) return PHYSFS_FILETYPE_OTHER;
    return info.filetype;
}

// Every spelling of the components[from..] under folder that names an entry
// of the wanted type, matching each component ignoring case. Names rarely
// differ only in case, so the search seldom branches.
void MatchIgnoringCase(const std::string& folder, const std::vector<std::string>& components, size_t from,
                       PHYSFS_FileType wanted, std::vector<std::string>* matches) {
    const FolderListing& listing = ListingOf(folder);
    const auto found = listing.byLowerName.find(Lower(components[from]));
    if (found == listing.byLowerName.end()) return;
    for (const std::string& spelling : found->second) {
        const std::string path = Join(folder, spelling);
        if (from + 1 == components.size()) {
            if (EntryType(path) == wanted) matches->push_back(path);
        } else if (EntryType(path) == PHYSFS_FILETYPE_DIRECTORY) {
            MatchIgnoringCase(path, components, from + 1, wanted, matches);
        }
    }
}

std::vector<std::string> Components(const std::string& name) {
    std::vector<std::string> components;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        components.push_back(name.substr(start, end - start));
        start = end + 1;
    }
    return components;
}

// Of several spellings, the one whose archive is searched first.
std::string FirstInSearchOrder(const std::vector<std::string>& spellings) {
    const std::string* best = nullptr;
    size_t bestPriority = 0;
    for (const std::string& spelling : spellings) {
        const size_t priority = SourcePriority(spelling);
        if (best == nullptr || priority < bestPriority) {
            best = &spelling;
            bestPriority = priority;
        }
    }
    return best != nullptr ? *best : std::string();
}

// The name of the entry path resolves to: the exact name when an archive
// holds it, else the spelling that differs only in case from the source
// searched first. Empty when no mounted source has a regular file so named.
std::string FindEntry(const char* path) {
    ArchiveState& state = State();
    if (!state.initialised || state.sources.empty()) return {};
    const std::string name = ArchiveName(path);
    if (name.empty()) return {};
    if (PHYSFS_exists(name.c_str()) != 0) {
        return EntryType(name) == PHYSFS_FILETYPE_REGULAR ? name : std::string();
    }
    std::vector<std::string> matches;
    MatchIgnoringCase("", Components(name), 0, PHYSFS_FILETYPE_REGULAR, &matches);
    return FirstInSearchOrder(matches);
}

// A PhysFS file behind a stdio stream, so every reader of the engine reads
// archives as it reads the content folder.
struct ArchiveStream {
    PHYSFS_File* file;
    std::FILE* stream;
    uint64_t length;
};

// The open archive streams by their stdio stream: their length is known
// without seeking to the end, which would inflate a compressed entry whole
// just to measure it.
// An opened stream may be read and closed on another thread than the one
// that opened it (image decoding), so the table has a lock.
std::unordered_map<const std::FILE*, const ArchiveStream*>& OpenStreams() {
    static std::unordered_map<const std::FILE*, const ArchiveStream*> streams;
    return streams;
}
std::mutex& OpenStreamsLock() {
    static std::mutex lock;
    return lock;
}

ssize_t StreamRead(void* cookie, char* buffer, size_t size) {
    const ArchiveStream* stream = static_cast<ArchiveStream*>(cookie);
    const PHYSFS_sint64 got = PHYSFS_readBytes(stream->file, buffer, size);
    if (got < 0) {
        errno = EIO;
        return -1;
    }
    // A damaged entry (its data ends early, or a deflate stream ends before
    // the size the directory declares) reads as an error, not as a shorter
    // file that a reader would take for the whole of it.
    if (got == 0 && size > 0) {
        const PHYSFS_sint64 position = PHYSFS_tell(stream->file);
        if (position < 0 || static_cast<uint64_t>(position) < stream->length) {
            errno = EIO;
            return -1;
        }
    }
    return static_cast<ssize_t>(got);
}

int StreamSeek(void* cookie, off64_t* offset, int whence) {
    const ArchiveStream* stream = static_cast<ArchiveStream*>(cookie);
    int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = PHYSFS_tell(stream->file);
    } else if (whence == SEEK_END) {
        base = static_cast<int64_t>(stream->length);
    } else if (whence != SEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    if (base < 0 || (*offset < 0 && -*offset > base) || (*offset > 0 && base > INT64_MAX - *offset)) {
        errno = EINVAL;
        return -1;
    }
    const int64_t target = base + *offset;
    if (PHYSFS_seek(stream->file, static_cast<PHYSFS_uint64>(target)) == 0) {
        errno = EINVAL;
        return -1;
    }
    *offset = target;
    return 0;
}

int StreamClose(void* cookie) {
    ArchiveStream* stream = static_cast<ArchiveStream*>(cookie);
    {
        std::lock_guard<std::mutex> lock(OpenStreamsLock());
        OpenStreams().erase(stream->stream);
    }
    const bool closed = PHYSFS_close(stream->file) != 0;
    delete stream;
    return closed ? 0 : EOF;
}

void AddArchivesOf(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        if (HasArchiveExtension(entry->d_name)) names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    int mounted = 0;
    // The later name overrides the earlier one: it is searched first.
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        const std::string path = folder + "/" + *name;
        struct stat info;
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        PHYSFS_Io* io = OpenArchiveIo(path);
        if (io == nullptr) {
            PrintLine("Warning: skipping archive %s: %s", path.c_str(), std::strerror(errno));
            continue;
        }
        if (PHYSFS_mountIo(io, path.c_str(), nullptr, 1) == 0) {
            PrintLine("Warning: skipping archive %s: %s", path.c_str(), LastPhysfsError().c_str());
            io->destroy(io);
            continue;
        }
        State().sources.push_back(path);
        ++mounted;
    }
    State().folders.emplace_back(folder, mounted);
}

}  // namespace

std::vector<std::string> DefaultDataFolders() {
    std::vector<std::string> roots;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        roots.push_back(std::string(home) + "/.openarena");
    }
    roots.push_back("/usr/share/games/openarena");
    std::vector<std::string> folders;
    for (const std::string& root : roots) {
        DIR* dir = ::opendir(root.c_str());
        if (dir == nullptr) continue;
        std::vector<std::string> addOns;
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == "baseoa") continue;
            if (IsDirectory(root + "/" + name)) addOns.push_back(name);
        }
        ::closedir(dir);
        std::sort(addOns.begin(), addOns.end());
        // Add-on folders build on baseoa and override it.
        for (auto name = addOns.rbegin(); name != addOns.rend(); ++name) folders.push_back(root + "/" + *name);
        if (IsDirectory(root + "/baseoa")) folders.push_back(root + "/baseoa");
    }
    return folders;
}

int MountDataFolders(const std::vector<std::string>& folders) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    UnmountDataFolders();
    ArchiveState& state = State();
    if (PHYSFS_init(nullptr) == 0) {
        PrintLine("Error: archives cannot be read: %s", LastPhysfsError().c_str());
        return 0;
    }
    state.initialised = true;
    ++g_generation;
    for (const std::string& folder : folders) {
        if (!IsDirectory(folder)) continue;
        AddArchivesOf(folder);
    }
    return static_cast<int>(state.sources.size());
}

void UnmountDataFolders() {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    ArchiveState& state = State();
    if (state.initialised) PHYSFS_deinit();
    state = ArchiveState{};
    ++g_generation;
}

uint64_t ArchiveGeneration() {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    return g_generation;
}

size_t ArchiveSourcePriority(const std::string& source) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    const std::vector<std::string>& sources = State().sources;
    for (size_t i = 0; i < sources.size(); ++i) {
        if (sources[i] == source) return i;
    }
    return sources.size();
}

std::vector<std::string> MountedSources() {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    return State().sources;
}

void ReportDataFolders() {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    for (const auto& [folder, count] : State().folders) {
        if (count > 0) PrintLine("Archives: %i from %s", count, folder.c_str());
    }
}

std::FILE* OpenArchiveFile(const char* path) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    const std::string name = FindEntry(path);
    if (name.empty()) return nullptr;
    PHYSFS_File* file = PHYSFS_openRead(name.c_str());
    if (file == nullptr) {
        PrintLine("Error: %s cannot be read from %s: %s", name.c_str(), ArchiveSourceOf(name.c_str()).c_str(),
                  LastPhysfsError().c_str());
        return nullptr;
    }
    const PHYSFS_sint64 length = PHYSFS_fileLength(file);
    if (length < 0 || static_cast<uint64_t>(length) > kMaxArchiveEntryBytes) {
        PrintLine("Error: %s in %s declares %" PRId64 " bytes, more than the %" PRIu64 " MB an archive entry may hold",
                  name.c_str(), ArchiveSourceOf(name.c_str()).c_str(), static_cast<int64_t>(length),
                  kMaxArchiveEntryBytes >> 20);
        PHYSFS_close(file);
        return nullptr;
    }
    const cookie_io_functions_t functions{StreamRead, nullptr, StreamSeek, StreamClose};
    auto* cookie = new ArchiveStream{file, nullptr, static_cast<uint64_t>(length)};
    std::FILE* stream = ::fopencookie(cookie, "rb", functions);
    if (stream == nullptr) {
        PHYSFS_close(file);
        delete cookie;
        return nullptr;
    }
    cookie->stream = stream;
    {
        std::lock_guard<std::mutex> lock(OpenStreamsLock());
        OpenStreams()[stream] = cookie;
    }
    return stream;
}

bool ArchiveFileExists(const char* path) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    return !FindEntry(path).empty();
}

bool ArchiveStreamLength(const std::FILE* stream, uint64_t* length) {
    std::lock_guard<std::mutex> lock(OpenStreamsLock());
    const auto found = OpenStreams().find(stream);
    if (found == OpenStreams().end()) return false;
    *length = found->second->length;
    return true;
}

std::string ArchiveSourceOf(const char* path) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    const std::string name = FindEntry(path);
    if (name.empty()) return {};
    const char* source = PHYSFS_getRealDir(name.c_str());
    return source != nullptr ? source : std::string();
}

namespace {

// Every spelling of a folder of the mounted sources; "" is the top folder.
// Nothing for names the sources may not see.
std::vector<std::string> FolderSpellings(const char* folder) {
    std::vector<std::string> folders;
    const ArchiveState& state = State();
    if (!state.initialised || state.sources.empty() || folder == nullptr) return folders;
    if (folder[0] == '\0') {
        folders.emplace_back();
        return folders;
    }
    const std::string name = ArchiveName(folder);
    if (!name.empty()) MatchIgnoringCase("", Components(name), 0, PHYSFS_FILETYPE_DIRECTORY, &folders);
    return folders;
}

}  // namespace

std::vector<std::string> ListArchiveSubfolders(const char* folder) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    std::vector<std::string> found;
    std::unordered_map<std::string, bool> seen;
    for (const std::string& spelling : FolderSpellings(folder)) {
        for (const auto& [lower, names] : ListingOf(spelling).byLowerName) {
            for (const std::string& entry : names) {
                const std::string path = Join(spelling, entry);
                if (EntryType(path) != PHYSFS_FILETYPE_DIRECTORY) continue;
                if (seen.emplace(Lower(path), true).second) found.push_back(path);
            }
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<ArchiveEntry> ListArchiveFolder(const char* folder) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    std::vector<ArchiveEntry> entries;
    const std::vector<std::string> folders = FolderSpellings(folder);
    // The files of every spelling of the folder, each name once.
    std::unordered_map<std::string, std::vector<std::string>> files;
    for (const std::string& spelling : folders) {
        for (const auto& [lower, names] : ListingOf(spelling).byLowerName) {
            for (const std::string& file : names) {
                const std::string path = Join(spelling, file);
                if (EntryType(path) == PHYSFS_FILETYPE_REGULAR) files[lower].push_back(path);
            }
        }
    }
    for (const auto& [lower, spellings] : files) {
        const std::string path = FirstInSearchOrder(spellings);
        const char* source = PHYSFS_getRealDir(path.c_str());
        entries.push_back({path, source != nullptr ? source : ""});
    }
    std::sort(entries.begin(), entries.end(),
              [](const ArchiveEntry& a, const ArchiveEntry& b) { return a.path < b.path; });
    return entries;
}
