// The input of a run without a display: events by engine frame number (the
// first frame is 1), one per line:
//   FRAME key NAME-or-CODE down|up
//   FRAME mouse DX DY
//   FRAME console LINE
//   FRAME text CHARACTERS         (typed, as into the in-game console; the
//                                  characters after the one separating blank)
//   FRAME resize WIDTH HEIGHT     (the window is resized, as a user would)
//   FRAME focus in|out            (the window gains or loses the focus)
// Empty lines and lines starting with "#" are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct InputScriptEvent {
    enum class Kind { kKey, kMouse, kConsole, kText, kResize, kFocus };
    int64_t frame = 0;
    Kind kind = Kind::kKey;
    uint8_t code = 0;
    bool pressed = false;  // a key goes down, or the window gains the focus
    int32_t dx = 0;  // mouse movement, or the new width of a resize
    int32_t dy = 0;  // the new height of a resize
    std::string line;  // the console line, or the typed characters
};

struct InputScript {
    std::vector<InputScriptEvent> events;  // in frame order, file order within a frame
};

// Reads a script; false with a message naming the line when it is malformed.
bool ParseInputScript(const std::string& text, InputScript* script, std::string* error);
bool LoadInputScript(const std::string& path, InputScript* script, std::string* error);
