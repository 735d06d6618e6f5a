// Worlds by name: "oa_dm1" is maps/oa_dm1.lmf or maps/oa_dm1.bsp, in the
// content folder or the archives, and the list of every world there is.
#pragma once

#include <string>
#include <vector>

// A world named without folder or extension ("oa_dm1").
bool IsWorldName(const char* text);

// The path `map` loads for a world name: maps/NAME.lmf, else maps/NAME.bsp,
// each looked for in the content folder and then the archives. Empty when
// neither exists.
std::string FindWorldByName(const char* name);

struct WorldListing {
    std::string name;    // what `map NAME` takes
    std::string path;    // the file it loads
    std::string source;  // "content folder" or the archive it comes from
};

// Every world that can be loaded by name, sorted by name; each name once, as
// FindWorldByName resolves it.
std::vector<WorldListing> ListWorlds();
// Their names alone, in the same order.
std::vector<std::string> ListWorldNames();

// The names of up to count worlds closest to name, the closest first: by
// edit distance, ignoring case, then by the longer common beginning, then by
// name. For a mistyped name given to `map` or on the command line.
std::vector<std::string> ClosestWorldNames(const std::string& name, size_t count = 3);
// Picks from the given names as ClosestWorldNames picks from the catalogue.
std::vector<std::string> ClosestNames(const std::string& name, const std::vector<std::string>& names, size_t count);
