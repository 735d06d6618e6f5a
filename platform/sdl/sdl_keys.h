// SDL's keyboard scan codes as the engine's key codes (DirectInput's scan
// codes): left and right modifiers, the keypad and the extended keys each
// keep their own code.
#pragma once

#include <SDL.h>

#include <cstdint>

// 0 for a key the engine has no code for.
uint8_t DirectInputCode(SDL_Scancode scancode);
