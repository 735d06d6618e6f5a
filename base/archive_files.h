// The archives searched after the content folder: the .pk3 (zip) files of
// the installed OpenArena data folders and of folders named on the command
// line, mounted into one search path through PhysFS. Only reading goes
// there; files are written to the content folder alone.
//
// Search order: the folders in the order given; inside a folder, its archives
// with the later name first, so that a later archive overrides an earlier one
// as the game's own data expects.
// Names follow the engine's path rules: "\" is a separator, and a name that
// matches no entry exactly matches one that differs only in case.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// An archive entry may not declare more than this (a world is a few MB, the
// largest texture a few hundred KB); a larger one is refused before anything
// is inflated, so a hostile archive cannot make the engine exhaust memory.
constexpr uint64_t kMaxArchiveEntryBytes = 256ull << 20;

// The installed OpenArena data folders, searched first to last: a folder the
// user downloaded into (~/.openarena/...), then the system's, add-on folders
// before baseoa. Only folders that exist are listed.
std::vector<std::string> DefaultDataFolders();

// Mounts the .pk3 archives of each folder, replacing what was mounted
// before. A damaged archive is skipped with one line naming it.
// Returns the number of archives mounted.
int MountDataFolders(const std::vector<std::string>& folders);
// Unmounts everything and releases PhysFS.
void UnmountDataFolders();

// Changes whenever the mounted sources change, so that what is read from
// them once (the shader scripts) is read again.
uint64_t ArchiveGeneration();
// The position of a source (as ArchiveEntry::source names it) in the search
// order: 0 is searched first.
size_t ArchiveSourcePriority(const std::string& source);

// Prints one line per data folder: how many archives it gave.
void ReportDataFolders();

// The mounted archives and folders, in search order.
std::vector<std::string> MountedSources();

// Opens a file of the archives for reading as a stdio stream (seekable,
// read-only); null when no mounted source holds it. Names with ".."
// components or absolute names never reach the archives. The stream may be
// handed to another thread to be read and closed there.
std::FILE* OpenArchiveFile(const char* path);
bool ArchiveFileExists(const char* path);
// The length of a stream OpenArchiveFile returned (without reading it);
// false for any other stream.
bool ArchiveStreamLength(const std::FILE* stream, uint64_t* length);
// The archive (or folder) the file would be read from; empty when none.
std::string ArchiveSourceOf(const char* path);

// One regular file of the mounted sources.
struct ArchiveEntry {
    std::string path;    // as the archive spells it
    std::string source;  // the archive or folder it comes from
};
// The files directly inside folder (matched ignoring case; "" is the top
// folder), each name once, as the search order resolves it; sorted by path.
std::vector<ArchiveEntry> ListArchiveFolder(const char* folder);
// The folders directly inside folder ("" is the top folder), each once
// whatever its case, sorted; paths as an archive spells them.
std::vector<std::string> ListArchiveSubfolders(const char* folder);
