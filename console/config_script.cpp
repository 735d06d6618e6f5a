#include "console/config_script.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/file_helpers.h"
#include "base/message_output.h"
#include "base/paths.h"
#include "console/command_interpreter.h"
#include "console/console_object.h"

namespace {

constinit int s_nesting = 0;
constinit BindingWriter s_bindingWriter = nullptr;

// Lines of a script that run: split at CR and LF (empty lines vanish), skipping
// those whose first or second character is a slash.
std::vector<std::string> CollectLines(std::string& text) {
    for (char& c : text) {
        if (c == '"') c = ' ';
    }
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            std::string line = text.substr(start, end - start);
            const bool comment = line[0] == '/' || (line.size() > 1 && line[1] == '/');
            if (!comment) lines.push_back(std::move(line));
        }
        start = end + 1;
    }
    return lines;
}

int32_t SaveConfig(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    if (argc < 1 || argv == nullptr) {
        PrintLine("[saveConfig] You must supply a config name to save.");
        return 0;
    }
    const std::string script = BuildConfigScript();
    std::FILE* file = OpenFile(argv[0].text, "wb");
    if (file == nullptr) {
        PrintLine("Error writing config script");
        return 1;
    }
    const size_t written = std::fwrite(script.data(), 1, script.size(), file);
    const bool closed = std::fclose(file) == 0;
    if (written != script.size() || !closed) PrintLine("Error writing config script");
    return 1;
}

int32_t LoadConfig(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    if (argc < 1 || argv == nullptr) {
        PrintLine("[loadConfig] You must supply a config name to load.");
        return 0;
    }
    LoadConfigFile(argv[0].text);
    return 1;
}

// The objects a listing shows: live ones (records destroyed at exit are no
// longer objects of the console) whose names start with the optional prefix.
std::vector<const ConsoleObject*> ListedObjects(int32_t argc, const ConsoleArgument* argv, bool commandsOnly) {
    const char* prefix = argc >= 1 && argv != nullptr && argv[0].text != nullptr ? argv[0].text : "";
    size_t prefixLength = std::strlen(prefix);
    // "vid_*" means what "vid_" does, and "*" alone every object.
    if (prefixLength > 0 && prefix[prefixLength - 1] == '*') --prefixLength;
    std::vector<const ConsoleObject*> listed;
    const ConsoleObjectList& objects = g_commandInterpreter.Objects();
    for (int32_t i = 0; i < objects.Count(); ++i) {
        const ConsoleObject* object = objects.At(i);
        if (object->kind == kConsoleDestroyed || object->name == nullptr) continue;
        if (commandsOnly && object->kind != kConsoleCommand) continue;
        if (std::strncmp(object->name, prefix, prefixLength) != 0) continue;
        listed.push_back(object);
    }
    return listed;
}

// cvarlist: every object's name on a line of its own, the listing scripts
// know. cvarlist PREFIX (or "*" for all): the objects whose names begin so,
// each variable with its value after its name.
int32_t ListConsoleObjects(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    const std::vector<const ConsoleObject*> listed = ListedObjects(argc, argv, false);
    const bool withValues = argc >= 1 && argv != nullptr && argv[0].text != nullptr;
    PrintLine("%s", "");
    PrintLine("Printing %i console variables...", static_cast<int32_t>(listed.size()));
    for (const ConsoleObject* object : listed) {
        if (!withValues) {
            PrintLine("%s", object->name);
            continue;
        }
        switch (object->kind) {
            case kConsoleInteger:
                PrintLine("%-24s \"%i\"", object->name, object->intValue);
                break;
            case kConsoleFloat:
                PrintLine("%-24s \"%f\"", object->name, static_cast<double>(object->floatValue));
                break;
            case kConsoleString:
                PrintLine("%-24s \"%s\"", object->name, object->stringValue != nullptr ? object->stringValue : "");
                break;
            default:
                PrintLine("%s", object->name);
                break;
        }
    }
    PrintLine("%s", "");
    return 1;
}

// cmdlist [PREFIX]: the names of the commands.
int32_t ListConsoleCommands(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    const std::vector<const ConsoleObject*> listed = ListedObjects(argc, argv, true);
    PrintLine("%s", "");
    PrintLine("Printing %i console commands...", static_cast<int32_t>(listed.size()));
    for (const ConsoleObject* object : listed) PrintLine("%s", object->name);
    PrintLine("%s", "");
    return 1;
}

ConsoleCommand cvarlist("cvarlist", ListConsoleObjects, KeyRepeat::kOncePerPress);
ConsoleCommand cmdlist("cmdlist", ListConsoleCommands, KeyRepeat::kOncePerPress);
ConsoleCommand saveConfig("saveConfig", SaveConfig);
ConsoleCommand loadConfig("loadConfig", LoadConfig);

}  // namespace

void SetConfigBindingWriter(BindingWriter writer) { s_bindingWriter = writer; }

std::string BuildConfigScript() {
    std::string script =
        "// Project Osprel 2.0b config script\n"
        "// File created by engine, do not edit\n";
    const ConsoleObjectList& objects = g_commandInterpreter.Objects();
    char entry[600];
    for (int32_t i = 0; i < objects.Count(); ++i) {
        const ConsoleObject* object = objects.At(i);
        if (!object->IsVariable() || object->readOnly) continue;
        switch (object->kind) {
            case kConsoleInteger:
                std::snprintf(entry, sizeof entry, "\n%s \"%i\"", object->name, object->intValue);
                break;
            case kConsoleString:
                std::snprintf(entry, sizeof entry, "\n%s \"%s\"", object->name,
                              object->stringValue != nullptr ? object->stringValue : "");
                break;
            default:
                std::snprintf(entry, sizeof entry, "\n%s \"%f\"", object->name,
                              static_cast<double>(object->floatValue));
                break;
        }
        script += entry;
    }
    if (s_bindingWriter != nullptr) s_bindingWriter(script);
    return script;
}

void LoadConfigFile(const char* path) {
    if (path == nullptr) return;
    if (FileSize(path) == 0) {
        PrintLine("Error: file %s has size 0", path);
        return;
    }
    if (s_nesting >= kMaxConfigNesting) {
        PrintLine("Error: config scripts nest deeper than %i levels, %s not run",
                  kMaxConfigNesting, path);
        return;
    }
    std::FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        PrintLine("Error: Unable to open config file %s", path);
        return;
    }
    std::string text;
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, got);
    std::fclose(file);

    const std::vector<std::string> lines = CollectLines(text);
    ++s_nesting;
    for (const std::string& line : lines) ExecuteLine(line.c_str());
    --s_nesting;
}
