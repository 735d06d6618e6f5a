// The GL driver Mesa loads for a context stays loaded for the rest of the
// process: the start-up dialog's context and the engine window's follow one
// another, and the driver (tens of megabytes) would otherwise be unloaded and
// loaded again between them. It also keeps the driver's own allocations
// readable by the leak checker at exit, which cannot name the code of an
// unloaded library.
#pragma once

// Marks every loaded GL driver module never to be unloaded. Call after a GL
// context has been made; harmless to call again.
void KeepGlDriversLoaded();
