#include "engine/world_catalogue.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "console/console_object.h"
#include "platform/archive_files.h"
#include "platform/message_output.h"
#include "platform/paths.h"

namespace {

constexpr size_t kLongestWorldName = 63;
constexpr const char* kWorldExtensions[] = {"lmf", "bsp"};  // in the order `map NAME` tries them

// The position of name's extension among the world extensions, or -1.
int WorldExtension(const std::string& file, std::string* stem) {
    const size_t dot = file.rfind('.');
    if (dot == std::string::npos || dot == 0) return -1;
    for (int i = 0; i < 2; ++i) {
        if (::strcasecmp(file.c_str() + dot + 1, kWorldExtensions[i]) == 0) {
            *stem = file.substr(0, dot);
            return i;
        }
    }
    return -1;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

int32_t ListWorldsCommand(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    const std::vector<WorldListing> worlds = ListWorlds();
    for (const WorldListing& world : worlds) {
        PrintLine("%-24s %s (%s)", world.name.c_str(), world.path.c_str(), world.source.c_str());
    }
    PrintLine("%i worlds", static_cast<int32_t>(worlds.size()));
    return 1;
}

ConsoleCommand maps("maps", ListWorldsCommand);

}  // namespace

bool IsWorldName(const char* text) {
    if (text == nullptr || text[0] == '\0' || std::strlen(text) > kLongestWorldName) return false;
    return std::strpbrk(text, "/\\.:") == nullptr;
}

std::string FindWorldByName(const char* name) {
    if (!IsWorldName(name)) return {};
    for (const char* extension : kWorldExtensions) {
        const std::string path = std::string("maps/") + name + "." + extension;
        if (FileExists(path.c_str())) return path;
    }
    return {};
}

std::vector<WorldListing> ListWorlds() {
    // Candidates in the order `map NAME` looks: by extension first, then the
    // content folder before the archives. The first one of each name wins.
    struct Candidate {
        int extension;
        int fromArchive;
        WorldListing listing;
    };
    std::vector<Candidate> candidates;
    std::string stem;
    for (const std::string& file : ListFolder("maps")) {
        const int extension = WorldExtension(file, &stem);
        if (extension >= 0 && IsWorldName(stem.c_str())) {
            candidates.push_back({extension, 0, {stem, "maps/" + file, "content folder"}});
        }
    }
    for (const ArchiveEntry& entry : ListArchiveFolder("maps")) {
        const size_t slash = entry.path.rfind('/');
        const std::string file = entry.path.substr(slash + 1);
        const int extension = WorldExtension(file, &stem);
        if (extension >= 0 && IsWorldName(stem.c_str())) {
            candidates.push_back({extension, 1, {stem, entry.path, entry.source}});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.extension != b.extension ? a.extension < b.extension : a.fromArchive < b.fromArchive;
    });
    std::map<std::string, WorldListing> byName;
    for (Candidate& candidate : candidates) byName.emplace(Lower(candidate.listing.name), std::move(candidate.listing));
    std::vector<WorldListing> worlds;
    worlds.reserve(byName.size());
    for (auto& [name, listing] : byName) worlds.push_back(std::move(listing));
    return worlds;
}
