#include "base/paths.h"

#include "base/archive_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// The entry of folder whose name equals name ignoring case, or empty.
std::string FindIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return {};
    std::string found;
    while (dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace

std::string ResolvePath(const char* path) {
    if (path == nullptr) return {};
    std::string exact(path);
    for (char& c : exact) {
        if (c == '\\') c = '/';
    }
    if (exact.empty() || Exists(exact)) return exact;

    // Walk component by component, keeping what exists and matching the rest
    // ignoring case.
    std::string resolved;
    size_t start = 0;
    if (exact[0] == '/') {
        resolved = "/";
        start = 1;
    }
    bool matching = true;
    while (start <= exact.size()) {
        size_t end = exact.find('/', start);
        if (end == std::string::npos) end = exact.size();
        std::string component = exact.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;

        std::string candidate = resolved;
        if (!candidate.empty() && candidate.back() != '/') candidate += '/';
        if (matching && !Exists(candidate + component) && component != "." &&
            component != "..") {
            std::string match = FindIgnoringCase(resolved.empty() ? "." : resolved, component);
            if (!match.empty()) {
                component = match;
            } else {
                matching = false;  // nothing below a missing folder can match
            }
        }
        resolved = candidate + component;
    }
    return resolved;
}

namespace {

bool ReadOnlyMode(const char* mode) { return mode[0] == 'r' && std::strchr(mode, '+') == nullptr; }

}  // namespace

std::FILE* OpenFile(const char* path, const char* mode) {
    if (path == nullptr || mode == nullptr) return nullptr;
    const std::string resolved = ResolvePath(path);
    // Only regular files: a folder, a device or a named pipe is refused
    // before it is opened (opening a pipe would wait for a writer for ever).
    struct stat info;
    if (::stat(resolved.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    std::FILE* file = nullptr;
    if (ReadOnlyMode(mode)) {
        // Opened without waiting, in case the name became a pipe since.
        const int descriptor = ::open(resolved.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor >= 0) {
            if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) ||
                ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) != 0 ||
                (file = ::fdopen(descriptor, mode)) == nullptr) {
                ::close(descriptor);
                errno = EINVAL;
                return nullptr;
            }
            return file;
        }
        // What the content folder lacks may come from the archives; writing
        // always goes to the content folder.
        const int reason = errno;
        file = OpenArchiveFile(path);
        if (file == nullptr) errno = reason;
        return file;
    }
    file = std::fopen(resolved.c_str(), mode);
    if (file == nullptr) return nullptr;
    if (::fstat(::fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

bool IsRegularFile(const char* path) {
    struct stat info;
    return path != nullptr && ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

bool FileExists(const char* path) {
    struct stat info;
    if (path == nullptr) return false;
    if (::stat(ResolvePath(path).c_str(), &info) == 0 && S_ISREG(info.st_mode)) return true;
    return ArchiveFileExists(path);
}

uint64_t StreamLength(std::FILE* file) {
    if (file == nullptr) return 0;
    struct stat info;
    const int descriptor = ::fileno(file);
    if (descriptor >= 0) {
        return ::fstat(descriptor, &info) == 0 && info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
    }
    // An archive entry: its length is known from the archive.
    uint64_t length = 0;
    if (ArchiveStreamLength(file, &length)) return length;
    const off_t here = ::ftello(file);
    if (here < 0 || ::fseeko(file, 0, SEEK_END) != 0) return 0;
    const off_t end = ::ftello(file);
    ::fseeko(file, here, SEEK_SET);
    return end > 0 ? static_cast<uint64_t>(end) : 0;
}

bool RemoveFile(const char* path) {
    return path != nullptr && ::unlink(ResolvePath(path).c_str()) == 0;
}

bool MakeFolder(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    const std::string folder = ResolvePath(path);
    if (::mkdir(folder.c_str(), 0777) == 0) return true;
    struct stat info;
    return errno == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> ListFolder(const char* path) {
    std::vector<std::string> names;
    if (path == nullptr) return names;
    const std::string folder = ResolvePath(path);
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return names;
    while (dirent* entry = ::readdir(dir)) {
        struct stat info;
        const std::string name = entry->d_name;
        if (::stat((folder + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool ChangeDirectory(const char* path) {
    return path != nullptr && ::chdir(ResolvePath(path).c_str()) == 0;
}

std::string CurrentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    if (::getcwd(buffer.data(), buffer.size()) == nullptr) return {};
    return buffer.data();
}
