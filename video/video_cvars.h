// Console variables of the video device, the renderer and its effect paths.
#pragma once

#include "console/console_object.h"

extern ConsoleVariable r_wireframe;
extern ConsoleVariable vid_viewport_x;
extern ConsoleVariable vid_viewport_y;
extern ConsoleVariable vid_viewport_width;
extern ConsoleVariable vid_viewport_height;
extern ConsoleVariable vid_scissor_x;
extern ConsoleVariable vid_scissor_y;
extern ConsoleVariable vid_scissor_width;
extern ConsoleVariable vid_scissor_height;
extern ConsoleVariable vid_effectmode;
extern ConsoleVariable vid_driver;
extern ConsoleVariable vid_device;
extern ConsoleVariable vid_description;
extern ConsoleVariable vid_width;
extern ConsoleVariable vid_height;
extern ConsoleVariable fov;
extern ConsoleVariable vid_multisample;
extern ConsoleVariable vid_tiling;
// 1: worlds are drawn as their shader scripts describe them (stages, light
// scale, cloud skies, fog, brush entities, culling); 0: each face is its one
// image times its lightmap, as the engine always drew them.
extern ConsoleVariable r_materials;
