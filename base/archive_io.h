// Reading an archive file for PhysFS through a buffer of our own.
//
// PhysFS reads an archive's directory one entry at a time, a few dozen
// bytes per read, and its own file reader makes a system call for each: the
// installed archives hold over a hundred thousand entries, so mounting them
// cost as many calls. This reader fills a 64 KB buffer with one positioned
// read (pread) and serves the small reads from it. Duplicates (one per
// opened entry) share the file descriptor, which pread leaves unmoved, and
// keep a position and a buffer of their own, so entries may be read on
// different threads.
#pragma once

#include <physfs.h>

#include <cstddef>
#include <string>

// The buffer each reader fills with one read.
constexpr size_t kArchiveReadBuffer = 64 * 1024;

// A PhysFS reader of the regular file at path, positioned at its start; null
// (with errno set) when it cannot be opened. Hand it to PHYSFS_mountIo, which
// destroys it at unmount; if mounting fails, destroy it yourself.
PHYSFS_Io* OpenArchiveIo(const std::string& path);

// How many positioned reads the readers made since the process started, for
// tests that check the buffering.
size_t ArchiveIoReadCalls();
