#include "platform/debug_console.h"

#include <algorithm>
#include <cstring>

#include "base/message_output.h"
#include "console/command_interpreter.h"

void DebugConsole::Append(const char* line) {
    // The output shows plain line feeds.
    for (const char* p = line; *p != '\0'; ++p) {
        if (*p != '\r') output_ += *p;
    }
    if (output_.size() > kMaxOutput) {
        size_t cut = output_.find('\n', output_.size() - kMaxOutput);
        output_.erase(0, cut == std::string::npos ? output_.size() - kMaxOutput : cut + 1);
    }
    scroll_ = true;
}

void DebugConsole::HandleKey(ConsoleKey key) {
    if (key == ConsoleKey::kEnter) {
        OnCommand(kConsoleSendId);
    } else {
        line_.HandleKey(key);
    }
}

void DebugConsole::OnCommand(int id) {
    if (id == kConsoleSendId) Send();
    // OK and Cancel are swallowed so that keys cannot close the console.
}

void DebugConsole::Send() {
    const std::string line = line_.TakeLine();
    if (!line.empty()) QueueTypedLine(line.c_str());
    scroll_ = true;
}

bool DebugConsole::TakeScrollRequest() {
    const bool scroll = scroll_;
    scroll_ = false;
    return scroll;
}
