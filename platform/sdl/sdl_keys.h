// SDL's keyboard scan codes as the engine's key codes (DirectInput's scan
// codes): left and right modifiers, the keypad and the extended keys each
// keep their own code.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "platform/debug_console.h"
#include "platform/startup_dialog.h"

// 0 for a key the engine has no code for.
uint8_t DirectInputCode(SDL_Scancode scancode);

// The start-up dialog's own keys; false for every other key. Read from the
// key's event rather than from a per-frame key state, so that a tap shorter
// than a frame still counts.
bool DialogKeyFor(SDL_Keycode key, DialogKey* dialogKey);

// The debug console's editing keys (both Enters send); false for the others,
// whose characters arrive as text.
bool ConsoleKeyFor(SDL_Keycode key, ConsoleKey* consoleKey);
