// The engine's global services. They are defined together so that they are
// constructed (and destroyed, in reverse) in the engine's designed order
// whatever order the linker puts the object files in: the interpreter first,
// then the engine that takes over the subsystems registered before it, then
// the other subsystems, which register with the engine directly.
#include "base/subsystem.h"
#include "console/command_interpreter.h"
#include "engine/game_system.h"
#include "input/input_system.h"
#include "platform/operating_system.h"
#include "platform/window_settings.h"
#include "video/renderer.h"
#include "video/video_system.h"

CCommandInterpreter g_commandInterpreter;
CBaseEngine g_engine(&g_subsystemRegistry);
CGameSystem g_gameSystem;
CInputSystem g_inputSystem;
COperatingSystem g_operatingSystem;
CRenderer g_renderer;
CVideoSystem g_videoSystem;
WindowSettings g_windowSettings;
