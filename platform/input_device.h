// What the input subsystem reads each frame, whatever stands behind it: the
// SDL window's keyboard and mouse, or a script of timed events in a run
// without a display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One buffered keyboard record, in the order things happened: a key's scan
// code and whether it went down, or (code 0) one typed character as UTF-8 in
// text. Characters only come while text input is on.
struct KeyboardEvent {
    uint8_t code;
    bool pressed;
    char text[5] = {};

    bool IsText() const { return code == 0 && text[0] != '\0'; }
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
    // Up to max buffered keyboard records, oldest first; the rest wait for
    // later reads. Every press and every release is a record of its own, so
    // a key pressed and let go between two reads still comes as both.
    virtual int ReadKeyboard(KeyboardEvent* events, int max) = 0;
    // Whether typed characters are wanted (the in-game console is open).
    virtual void SetTextInput(bool) {}
};

// A typed text as keyboard records of one character each, appended to out
// (anything with push_back of a KeyboardEvent). Broken UTF-8 is dropped.
template <typename Queue>
void AppendTextRecords(const char* text, Queue* out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (p != nullptr && *p != 0) {
        size_t count = *p < 0x80 ? 1 : (*p >= 0xC2 && *p <= 0xDF) ? 2 : (*p >= 0xE0 && *p <= 0xEF) ? 3
                                                                   : (*p >= 0xF0 && *p <= 0xF4) ? 4 : 0;
        bool whole = count > 0;
        for (size_t i = 1; whole && i < count; ++i) whole = (p[i] & 0xC0) == 0x80;
        if (!whole) {
            ++p;
            continue;
        }
        KeyboardEvent record{0, false};
        for (size_t i = 0; i < count; ++i) record.text[i] = static_cast<char>(p[i]);
        out->push_back(record);
        p += count;
    }
}
