#include "platform/headless/input_script.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/key_names.h"

namespace {

bool ParseNumber(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

}  // namespace

bool ParseInputScript(const std::string& text, InputScript* script, std::string* error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string frameText, kind;
        if (!(words >> frameText) || frameText[0] == '#') continue;
        auto fail = [&](const std::string& why) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        InputScriptEvent event;
        long long value = 0;
        if (!ParseNumber(frameText, 1, 1LL << 40, &value)) return fail("the frame must be a number from 1");
        event.frame = value;
        if (!(words >> kind)) return fail("an event kind (key, mouse, console, text, resize or focus) must follow the frame");
        if (kind == "key") {
            std::string key, state, extra;
            if (!(words >> key >> state) || (words >> extra)) return fail("key takes a key name or code and down or up");
            int code = KeyCodeOfName(key.c_str());
            if (code < 0 && ParseNumber(key, 1, kKeyCount - 1, &value)) code = static_cast<int>(value);
            if (code < 1) return fail("no key is called '" + key + "'");
            if (state != "down" && state != "up") return fail("a key goes down or up, not '" + state + "'");
            event.kind = InputScriptEvent::Kind::kKey;
            event.code = static_cast<uint8_t>(code);
            event.pressed = state == "down";
        } else if (kind == "mouse") {
            std::string x, y, extra;
            long long dx = 0, dy = 0;
            if (!(words >> x >> y) || (words >> extra) || !ParseNumber(x, -1000000, 1000000, &dx) ||
                !ParseNumber(y, -1000000, 1000000, &dy)) {
                return fail("mouse takes two whole numbers, the movement in x and y");
            }
            event.kind = InputScriptEvent::Kind::kMouse;
            event.dx = static_cast<int32_t>(dx);
            event.dy = static_cast<int32_t>(dy);
        } else if (kind == "resize") {
            std::string w, h, extra;
            long long width = 0, height = 0;
            if (!(words >> w >> h) || (words >> extra) || !ParseNumber(w, 1, 16384, &width) ||
                !ParseNumber(h, 1, 16384, &height)) {
                return fail("resize takes the new width and height, 1 to 16384 each");
            }
            event.kind = InputScriptEvent::Kind::kResize;
            event.dx = static_cast<int32_t>(width);
            event.dy = static_cast<int32_t>(height);
        } else if (kind == "focus") {
            std::string state, extra;
            if (!(words >> state) || (words >> extra) || (state != "in" && state != "out")) {
                return fail("focus takes in or out");
            }
            event.kind = InputScriptEvent::Kind::kFocus;
            event.pressed = state == "in";
        } else if (kind == "console") {
            std::getline(words, event.line);
            const size_t start = event.line.find_first_not_of(' ');
            event.line = start == std::string::npos ? std::string() : event.line.substr(start);
            event.kind = InputScriptEvent::Kind::kConsole;
        } else if (kind == "text") {
            std::getline(words, event.line);
            if (!event.line.empty() && event.line[0] == ' ') event.line.erase(0, 1);
            if (event.line.empty()) return fail("text takes the characters to type");
            event.kind = InputScriptEvent::Kind::kText;
        } else {
            return fail("unknown event kind '" + kind + "'");
        }
        script->events.push_back(std::move(event));
    }
    std::stable_sort(script->events.begin(), script->events.end(),
                     [](const InputScriptEvent& a, const InputScriptEvent& b) { return a.frame < b.frame; });
    return true;
}

bool LoadInputScript(const std::string& path, InputScript* script, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseInputScript(text.str(), script, error);
}
