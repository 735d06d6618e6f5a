// The one path layer every file open goes through. Names written for Windows
// work unchanged: "\" is a separator, and when the exact path does not exist
// the lookup falls back to a case-insensitive match of each component.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The path as this system spells it: separators turned to "/", and each
// component that does not exist exactly replaced by the first entry of its
// folder that matches it ignoring case. Components that match nothing are
// kept as written (a file about to be created).
std::string ResolvePath(const char* path);

// fopen through ResolvePath. Only regular files open for reading; a folder or
// a device is reported as missing. A file the content folder lacks is read
// from the mounted archives (base/archive_files.h) when opened read-only.
std::FILE* OpenFile(const char* path, const char* mode);

// A regular file on disk at path (no archive, no case fallback).
bool IsRegularFile(const char* path);
// A regular file in the content folder or the archives.
bool FileExists(const char* path);
// The length in bytes of a stream OpenFile returned.
uint64_t StreamLength(std::FILE* file);
bool RemoveFile(const char* path);
// Creates a folder (the name resolved as every path is); true when the folder
// exists afterwards, whether made now or before.
bool MakeFolder(const char* path);
// The names of the regular files directly inside a folder of the content
// folder (the folder's name resolved as every path is), sorted.
std::vector<std::string> ListFolder(const char* path);
bool ChangeDirectory(const char* path);
std::string CurrentDirectory();
