#include "platform/headless/scripted_input.h"

#include "console/command_interpreter.h"

void ScriptedInputDevice::ReadMouse(int32_t* dx, int32_t* dy) {
    ++frame_;
    *dx = 0;
    *dy = 0;
    if (script_ == nullptr) return;
    const std::vector<InputScriptEvent>& events = script_->events;
    while (next_ < events.size() && events[next_].frame <= frame_) {
        const InputScriptEvent& event = events[next_++];
        switch (event.kind) {
            case InputScriptEvent::Kind::kKey:
                keys_.push_back(KeyboardEvent{event.code, event.pressed});
                break;
            case InputScriptEvent::Kind::kMouse:
                *dx += event.dx;
                *dy += event.dy;
                break;
            case InputScriptEvent::Kind::kConsole:
                if (!event.line.empty()) QueueTypedLine(event.line.c_str());
                break;
            case InputScriptEvent::Kind::kText:
                AppendTextRecords(event.line.c_str(), &keys_);
                break;
            case InputScriptEvent::Kind::kResize:
            case InputScriptEvent::Kind::kFocus:
                break;  // the window's, handled by the message pump
        }
    }
}

int ScriptedInputDevice::ReadKeyboard(KeyboardEvent* events, int max) {
    int count = 0;
    while (count < max && !keys_.empty()) {
        events[count++] = keys_.front();
        keys_.pop_front();
    }
    return count;
}
