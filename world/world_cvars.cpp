#include "world/world_cvars.h"

ConsoleVariable cg_showfps("cg_showfps", 1);
ConsoleVariable cg_color("cg_color", 1);
ConsoleVariable cg_lightmaps("cg_lightmaps", 1);
ConsoleVariable cg_textures("cg_textures", 1);
ConsoleVariable cg_fillmode("cg_fillmode", 0);
ConsoleVariable cg_rows("cg_rows", 8);
ConsoleVariable cg_usetree("cg_usetree", 1);
ConsoleVariable cg_maxmip("cg_maxmip", 0);
ConsoleVariable cg_drawModel("cg_drawModel", -1);
ConsoleVariable bsp_noclip("bsp_noclip", 0);
ConsoleVariable bsp_sort("bsp_sort", 0);
ConsoleVariable bsp_drawlevel("bsp_drawlevel", 0);
// Faces without a lightmap are drawn lit by their vertex colours; 0 leaves
// them out.
ConsoleVariable bsp_vertexlit("bsp_vertexlit", 1);
