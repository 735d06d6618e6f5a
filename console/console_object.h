// Console objects: the named variables and commands every part of the engine
// registers during static construction. Code reads a variable straight from
// its global record; the console reads and writes it by name.
#pragma once

#include <cstdint>

enum ConsoleObjectKind : int16_t {
    kConsoleCommand = 1002,
    kConsoleFloat = 2001,
    kConsoleString = 2002,
    kConsoleInteger = 2003,
    kConsoleDestroyed = 3000,
};

// One token of a typed line, handed to a command handler.
struct ConsoleArgument {
    const char* text;
    int32_t length;  // the interpreter leaves this 0; handlers use the text
};

// Command handlers take the record's list position (or a key's first event
// value), the argument count (or a key's second value), a reserved value and
// the argument array (null when there are no arguments). 1 = done, 0 = usage
// message printed; no caller acts on the result.
using ConsoleHandler = int32_t (*)(int32_t position, int32_t argc, int32_t reserved,
                                   const ConsoleArgument* argv);

// How a command bound to a key runs: in every frame while the key is held
// (movement, and the stepping commands that keep their own rate), or once for
// each press (commands that act once per request, such as taking a picture).
enum class KeyRepeat : uint8_t { kWhileHeld, kOncePerPress };

class ConsoleObject {
public:
    ConsoleObject(const char* name, float value);
    ConsoleObject(const char* name, int32_t value, bool readOnly = false);
    ConsoleObject(const char* name, const char* text, bool readOnly);
    ConsoleObject(const char* name, ConsoleHandler handler, KeyRepeat repeat = KeyRepeat::kWhileHeld);
    ~ConsoleObject();

    ConsoleObject(const ConsoleObject&) = delete;
    ConsoleObject& operator=(const ConsoleObject&) = delete;

    // Replaces the string value with a copy of text.
    void SetString(const char* text);

    bool IsVariable() const {
        return kind == kConsoleFloat || kind == kConsoleString || kind == kConsoleInteger;
    }

    char* name = nullptr;
    char* stringValue = nullptr;
    float floatValue = 0.0f;
    int32_t intValue = 0;
    ConsoleHandler handler = nullptr;
    int16_t kind = kConsoleDestroyed;
    uint8_t readOnly = 0;
    KeyRepeat keyRepeat = KeyRepeat::kWhileHeld;  // commands only

    // Link of the list that holds objects registered before the interpreter.
    ConsoleObject* pendingNext = nullptr;
};

// Both uses share the one record.
using ConsoleVariable = ConsoleObject;
using ConsoleCommand = ConsoleObject;

// Registers an object with the interpreter's list in name order, or keeps it
// pending until the interpreter exists.
void AddConsoleObject(ConsoleObject* object);
// Called as an object is destroyed: it leaves the list (or the pending list).
void RemoveConsoleObject(ConsoleObject* object);

// First object in list order whose name equals name exactly, or null.
ConsoleObject* FindConsoleObject(const char* name);
