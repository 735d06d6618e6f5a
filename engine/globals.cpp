// The engine's global services. They are defined together so that they are
// constructed (and destroyed, in reverse) in the engine's designed order
// whatever order the linker puts the object files in: the interpreter first,
// then the engine that takes over the subsystems registered before it.
#include "console/command_interpreter.h"
#include "engine/subsystem.h"

CCommandInterpreter g_commandInterpreter;
CBaseEngine g_engine(&g_subsystemRegistry);
