// The keyboard and mouse of a run without a display: the events of an input
// script, delivered in the frames they name.
#pragma once

#include <deque>
#include <memory>

#include "platform/headless/input_script.h"
#include "platform/input_device.h"

class ScriptedInputDevice : public InputDevice {
public:
    explicit ScriptedInputDevice(std::shared_ptr<const InputScript> script) : script_(std::move(script)) {}

    bool Open(std::string*) override { return true; }
    void Close() override {}
    // Each read of the mouse starts the next frame.
    void ReadMouse(int32_t* dx, int32_t* dy) override;
    int ReadKeyboard(KeyboardEvent* events, int max) override;

    int64_t Frame() const { return frame_; }

private:
    std::shared_ptr<const InputScript> script_;
    size_t next_ = 0;
    int64_t frame_ = 0;
    std::deque<KeyboardEvent> keys_;
};
