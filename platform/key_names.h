// Key codes and their names: codes 1-211 are the keyboard scan codes of
// DirectInput, 228-233 pseudo-codes for the mouse. Names are lower case and
// need not be unique (keypad keys share the main keys' names).
#pragma once

#include <cstdint>

constexpr int kKeyCount = 235;
constexpr uint8_t kKeyMouseMove = 233;

// The name of a code 1-234 (possibly empty text), or null for 0 and 235+.
const char* KeyName(int code);
// The lowest code whose name equals name exactly, or -1.
int KeyCodeOfName(const char* name);
