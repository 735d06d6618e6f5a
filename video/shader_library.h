// The worlds' shader scripts (scripts/*.shader of the content folder and the
// archives) read into one table, once per run: the content folder's
// definitions win, and among the archives the one searched first.
#pragma once

#include "video/shader_scripts.h"

// The table, read on first use and again only when the mounted archives or
// the content folder change.
const ShaderTable& WorldShaders();
// Reads the scripts again on the next use (waiting for a reading ahead).
void ForgetWorldShaders();
// Starts reading the scripts on a thread of their own, so that the table is
// ready when the first world needs it; WorldShaders waits for it and uses
// it if the archives and the content folder are still those it read.
// ForgetWorldShaders must run before the archives are unmounted.
void ReadWorldShadersAhead();
