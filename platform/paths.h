// The one path layer every file open goes through. Names written for Windows
// work unchanged: "\" is a separator, and when the exact path does not exist
// the lookup falls back to a case-insensitive match of each component.
#pragma once

#include <cstdio>
#include <string>

// The path as this system spells it: separators turned to "/", and each
// component that does not exist exactly replaced by the first entry of its
// folder that matches it ignoring case. Components that match nothing are
// kept as written (a file about to be created).
std::string ResolvePath(const char* path);

// fopen through ResolvePath. Only regular files open for reading; a folder or
// a device is reported as missing.
std::FILE* OpenFile(const char* path, const char* mode);

bool FileExists(const char* path);
bool RemoveFile(const char* path);
bool ChangeDirectory(const char* path);
std::string CurrentDirectory();
