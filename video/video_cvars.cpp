#include "video/video_cvars.h"

ConsoleVariable r_wireframe("r_wireframe", 0);
ConsoleVariable vid_viewport_x("vid_viewport_x", 0);
ConsoleVariable vid_viewport_y("vid_viewport_y", 0);
ConsoleVariable vid_viewport_width("vid_viewport_width", 640);
ConsoleVariable vid_viewport_height("vid_viewport_height", 480);
ConsoleVariable vid_scissor_x("vid_scissor_x", 0);
ConsoleVariable vid_scissor_y("vid_scissor_y", 0);
ConsoleVariable vid_scissor_width("vid_scissor_width", 640);
ConsoleVariable vid_scissor_height("vid_scissor_height", 480);
ConsoleVariable vid_effectmode("vid_effectmode", 0);
// Filled in from the adapter when the device is created.
ConsoleVariable vid_driver("vid_driver", "Default Driver", true);
ConsoleVariable vid_device("vid_device", "Default Device", true);
ConsoleVariable vid_description("vid_description", "Default Description", true);
ConsoleVariable vid_width("vid_width", 800, true);
ConsoleVariable vid_height("vid_height", 600, true);
ConsoleVariable fov("fov", 90.0f);
ConsoleVariable vid_multisample("vid_multisample", 0);
ConsoleVariable vid_tiling("vid_tiling", 0);
ConsoleVariable r_materials("r_materials", 1);
