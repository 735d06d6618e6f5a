#include "platform/platform_cvars.h"

ConsoleVariable vid_fullscreen("vid_fullscreen", 0);
ConsoleVariable win_debug("win_debug", 1);
ConsoleVariable win_cursor("win_cursor", 1);
// Set by the start-up dialog only; the console may not change the window size.
ConsoleVariable win_width("win_width", 800, true);
ConsoleVariable win_height("win_height", 600, true);
