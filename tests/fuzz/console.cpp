// Fuzz target: console lines through the command interpreter (run at once and
// queued for its frame), then the same bytes as a config script. The engine's
// own objects are set aside for each input and a small set stands in, so that
// no input can quit, load a world or write a file; every object is put back
// afterwards and the stand-ins' values start fresh each time.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/command_interpreter.h"
#include "console/config_script.h"
#include "console/console_object.h"
#include "fuzz/fuzz_support.h"

namespace {

// Engine commands that only read the console's state: safe to keep.
constexpr const char* kKeptCommands[] = {"cvarlist"};

int32_t TouchArguments(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    if (argc > 0 && argv == nullptr) std::abort();
    size_t total = 0;
    for (int32_t i = 0; i < argc; ++i) total += std::strlen(argv[i].text);
    return total > 0 ? 1 : 0;
}

// The interpreter's list emptied for one input, then restored as it was.
class RestrictedConsole {
public:
    RestrictedConsole() {
        ConsoleObjectList& list = g_commandInterpreter.Objects();
        for (int32_t i = 0; i < list.Count(); ++i) saved_.push_back(list.At(i));
        list.Clear();
        for (ConsoleObject* object : saved_) {
            for (const char* name : kKeptCommands) {
                if (object->name != nullptr && std::strcmp(object->name, name) == 0) list.Insert(object);
            }
        }
    }
    ~RestrictedConsole() {
        ConsoleObjectList& list = g_commandInterpreter.Objects();
        list.Clear();
        for (ConsoleObject* object : saved_) list.Insert(object);
    }
    RestrictedConsole(const RestrictedConsole&) = delete;
    RestrictedConsole& operator=(const RestrictedConsole&) = delete;

private:
    std::vector<ConsoleObject*> saved_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    RestrictedConsole restricted;
    // Stand-ins of each kind, made after the list was emptied so they join it.
    ConsoleVariable integer("fuzz_int", 7);
    ConsoleVariable fraction("fuzz_float", 0.5f);
    ConsoleVariable words("fuzz_string", "text", false);
    ConsoleVariable fixed("fuzz_fixed", "fixed", true);
    ConsoleVariable fixedNumber("fuzz_fixed_int", 3, true);
    ConsoleCommand command("fuzz_command", TouchArguments);

    size_t start = 0;
    int queued = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        ExecuteLine(line.c_str());
        if (queued < 16) {
            QueueLine(line.c_str());
            ++queued;
        }
        start = end + 1;
    }
    g_commandInterpreter.frame();
    if (QueuedLineCount() != 0) std::abort();

    const std::string path = fuzz::ScratchFolder() + "/fuzz.cfg";
    fuzz::WriteFile(path, data, size);
    LoadConfigFile(path.c_str());

    if (std::strcmp(fixed.stringValue, "fixed") != 0 || fixedNumber.intValue != 3) std::abort();
    return 0;
}
