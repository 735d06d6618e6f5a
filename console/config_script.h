// Config scripts: console state saved to and restored from plain text, one
// console line per text line.
#pragma once

#include <string>

// Deepest nesting of scripts that load scripts; a script past it is refused.
constexpr int kMaxConfigNesting = 16;

// Runs a script: every line whose first or second character is "/" is
// skipped, every other non-empty line runs as a console line once all double
// quotes are turned into spaces.
void LoadConfigFile(const char* path);

// The text saveConfig writes: the header, then every settable variable (and,
// once keys can be bound, every binding), each entry preceded by a line feed.
std::string BuildConfigScript();

// Key bindings are written after the variables by whoever owns the binding
// table; it appends "\nbind <key> \"<command>\"" entries to the text.
using BindingWriter = void (*)(std::string& script);
void SetConfigBindingWriter(BindingWriter writer);
