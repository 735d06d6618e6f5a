// The main window's settings: filled by start-up from the console variables
// the start-up dialog wrote, then handed to the operating-system subsystem.
#pragma once

#include <cstdint>

struct WindowSettings {
    char title[251] = "Osprel 2.0b";
    int32_t x = 100;
    int32_t y = 100;
    int32_t width = 800;
    int32_t height = 600;
    int32_t fullscreen = 1;
    int32_t create = 1;
    int32_t showCursor = 0;
    int32_t visible = 1;
    int32_t debugConsole = 0;
};

extern WindowSettings g_windowSettings;
