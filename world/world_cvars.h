// Console variables of world drawing and collision.
#pragma once

#include "console/console_object.h"

extern ConsoleVariable cg_showfps;
extern ConsoleVariable cg_color;
extern ConsoleVariable cg_lightmaps;
extern ConsoleVariable cg_textures;
extern ConsoleVariable cg_fillmode;
extern ConsoleVariable cg_rows;
extern ConsoleVariable cg_usetree;
extern ConsoleVariable cg_maxmip;
extern ConsoleVariable cg_drawModel;
extern ConsoleVariable bsp_noclip;
extern ConsoleVariable bsp_sort;
extern ConsoleVariable bsp_drawlevel;
extern ConsoleVariable bsp_vertexlit;
