// What the input subsystem reads each frame, whatever stands behind it: the
// SDL window's keyboard and mouse, or a script of timed events in a run
// without a display.
#pragma once

#include <cstdint>
#include <string>

// One buffered keyboard event: the key's scan code and whether it went down.
struct KeyboardEvent {
    uint8_t code;
    bool pressed;
};

class InputDevice {
public:
    virtual ~InputDevice() = default;
    // Opens the mouse and the keyboard; on failure fills *error with the
    // "IN Error: ..." text and returns false.
    virtual bool Open(std::string* error) = 0;
    virtual void Close() = 0;
    // Mouse movement since the last read.
    virtual void ReadMouse(int32_t* dx, int32_t* dy) = 0;
    // Up to max buffered keyboard events, oldest first; the rest wait for
    // later reads.
    virtual int ReadKeyboard(KeyboardEvent* events, int max) = 0;
};
