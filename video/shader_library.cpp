#include "video/shader_library.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/archive_files.h"
#include "base/message_output.h"
#include "base/paths.h"

namespace {

// A table and the lines its reading has to say (warnings, then the
// summary), which are printed when the table is first used, so that the
// output is the same whichever thread read it.
struct Reading {
    uint64_t generation = 0;
    std::string folder;
    ShaderTable table;
    std::vector<std::string> lines;
};

struct Library {
    bool read = false;
    Reading current;
    // A reading started ahead of its first use, and its thread.
    std::thread worker;
    Reading ahead;
};

Library& TheLibrary() {
    static Library library;
    return library;
}

bool IsScript(const std::string& name) {
    return name.size() > 7 && ::strcasecmp(name.c_str() + name.size() - 7, ".shader") == 0;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Reads at most one byte more than a script may hold, so that a larger one
// is refused by its size without reading it all.
bool ReadScript(const std::string& path, std::vector<char>* text) {
    std::FILE* file = OpenFile(path.c_str(), "rb");
    if (file == nullptr) return false;
    const uint64_t length = std::min<uint64_t>(StreamLength(file), ShaderTable::kMaxScriptBytes + 1);
    text->resize(static_cast<size_t>(length));
    const size_t got = length > 0 ? std::fread(text->data(), 1, text->size(), file) : 0;
    text->resize(got);
    std::fclose(file);
    return true;
}

void ReadAll(ShaderTable* table, std::vector<std::string>* lines) {
    const auto start = std::chrono::steady_clock::now();
    // Highest priority first, since the first definition of a name stays:
    // the content folder, then the archives in search order.
    std::vector<std::string> scripts;
    std::set<std::string> seen;
    for (const std::string& name : ListFolder("scripts")) {
        if (!IsScript(name)) continue;
        scripts.push_back("scripts/" + name);
        seen.insert(Lower("scripts/" + name));
    }
    std::vector<ArchiveEntry> archived = ListArchiveFolder("scripts");
    std::stable_sort(archived.begin(), archived.end(), [](const ArchiveEntry& a, const ArchiveEntry& b) {
        return ArchiveSourcePriority(a.source) < ArchiveSourcePriority(b.source);
    });
    for (const ArchiveEntry& entry : archived) {
        if (IsScript(entry.path) && seen.insert(Lower(entry.path)).second) scripts.push_back(entry.path);
    }

    int shaders = 0;
    std::vector<char> text;
    std::vector<std::string> problems;
    for (const std::string& script : scripts) {
        if (!ReadScript(script, &text)) continue;
        problems.clear();
        shaders += table->AddScript(script.c_str(), text.data(), text.size(), &problems);
        for (const std::string& problem : problems) lines->push_back("Warning: " + problem);
    }
    if (scripts.empty()) return;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    char summary[128];
    std::snprintf(summary, sizeof summary, "Shader scripts: %i shaders from %i scripts in %.0f ms", shaders,
                  static_cast<int32_t>(scripts.size()), ms);
    lines->push_back(summary);
}

void Read(Reading* reading) {
    reading->table.Clear();
    reading->lines.clear();
    reading->generation = ArchiveGeneration();
    reading->folder = CurrentDirectory();
    ReadAll(&reading->table, &reading->lines);
}

void FinishReadingAhead(Library* library) {
    if (library->worker.joinable()) library->worker.join();
}

}  // namespace

void ReadWorldShadersAhead() {
    Library& library = TheLibrary();
    FinishReadingAhead(&library);
    library.worker = std::thread([&library] { Read(&library.ahead); });
}

const ShaderTable& WorldShaders() {
    Library& library = TheLibrary();
    const std::string folder = CurrentDirectory();
    if (library.read && library.current.generation == ArchiveGeneration() && library.current.folder == folder) {
        return library.current.table;
    }
    if (library.worker.joinable()) {
        FinishReadingAhead(&library);
        // Read for the sources and folder still in use: take it.
        if (library.ahead.generation == ArchiveGeneration() && library.ahead.folder == folder) {
            std::swap(library.current, library.ahead);
            library.ahead = Reading{};
            library.read = true;
            for (const std::string& line : library.current.lines) PrintLine("%s", line.c_str());
            return library.current.table;
        }
    }
    Read(&library.current);
    library.read = true;
    for (const std::string& line : library.current.lines) PrintLine("%s", line.c_str());
    return library.current.table;
}

void ForgetWorldShaders() {
    Library& library = TheLibrary();
    FinishReadingAhead(&library);
    library.ahead = Reading{};
    library.read = false;
}
