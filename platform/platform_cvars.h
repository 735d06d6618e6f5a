// Console variables of the window and the debug console.
#pragma once

#include "console/console_object.h"

extern ConsoleVariable vid_fullscreen;
extern ConsoleVariable win_debug;
extern ConsoleVariable win_cursor;
extern ConsoleVariable win_width;
extern ConsoleVariable win_height;
