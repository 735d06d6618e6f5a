#include "engine/world_catalogue.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "base/archive_files.h"
#include "base/message_output.h"
#include "base/paths.h"
#include "console/console_object.h"
#include "platform/console_line.h"

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

// Single-character insertions, deletions and substitutions that turn a into b.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            const size_t substitute = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
            row[j] = std::min({substitute, above + 1, row[j - 1] + 1});
            diagonal = above;
        }
    }
    return row[b.size()];
}

size_t CommonBeginning(const std::string& a, const std::string& b) {
    size_t length = 0;
    while (length < a.size() && length < b.size() && a[length] == b[length]) ++length;
    return length;
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

// Tab completes `map`'s world names from the catalogue; the edit line sits
// below the engine and is handed the catalogue while the globals are
// constructed.
struct WorldNameRegistration {
    WorldNameRegistration() { SetWorldNameSource(ListWorldNames); }
};
WorldNameRegistration s_worldNameRegistration;

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

std::vector<std::string> ClosestNames(const std::string& name, const std::vector<std::string>& names, size_t count) {
    struct Scored {
        size_t distance;
        size_t beginning;
        const std::string* name;
    };
    const std::string wanted = Lower(name);
    std::vector<Scored> scored;
    scored.reserve(names.size());
    for (const std::string& candidate : names) {
        const std::string lower = Lower(candidate);
        scored.push_back({EditDistance(wanted, lower), CommonBeginning(wanted, lower), &candidate});
    }
    std::stable_sort(scored.begin(), scored.end(), [](const Scored& a, const Scored& b) {
        if (a.distance != b.distance) return a.distance < b.distance;
        if (a.beginning != b.beginning) return a.beginning > b.beginning;
        return *a.name < *b.name;
    });
    std::vector<std::string> closest;
    for (size_t i = 0; i < scored.size() && i < count; ++i) closest.push_back(*scored[i].name);
    return closest;
}

std::vector<std::string> ListWorldNames() {
    std::vector<std::string> names;
    for (const WorldListing& world : ListWorlds()) names.push_back(world.name);
    return names;
}

std::vector<std::string> ClosestWorldNames(const std::string& name, size_t count) {
    return ClosestNames(name, ListWorldNames(), count);
}
