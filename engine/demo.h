// Demos: recordings of the camera and of the key events that drove it,
// replayed at their recorded times, saved to and loaded from a binary file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct DemoPacket {
    int32_t pressed;  // 0 release, else a press (0x80 keyboard, 1 mouse)
    int32_t key;      // key code in the low byte
    int32_t dx;
    int32_t dy;
    float position[3];
    float angles[3];  // yaw, pitch, roll
    float time;
};
static_assert(sizeof(DemoPacket) == 44, "a demo packet is 44 bytes");

struct Demo {
    char name[80] = {};  // may fill all 80 bytes without a terminating zero
    char world[260] = {};
    float startPosition[3] = {};
    float startAngles[3] = {};
    float captureStart = 0.0f;
    float playbackStart = 0.0f;
    uint32_t played = 0;
    uint8_t unsaved = 1;
    int32_t invertAtCapture = 0;
    int32_t invertToggled = 0;
    std::vector<DemoPacket> packets;
    size_t current = 0;
    // Not in the file: a map command has since loaded a world other than
    // the one this demo was recorded on.
    bool leftItsWorld = false;

    // The name as text, never past its field.
    std::string Name() const;
};

constexpr size_t kDemoHeaderSize = 376;
constexpr const char* kDefaultDemoFile = "demos\\demo001.dem";

// The file save NAME writes, demos\NAME.dem ("NAME.dem" given whole is
// taken as it is); empty when NAME is not a plain file name: empty, too
// long, or holding anything but letters, digits, "-", "_" and inner dots.
std::string NamedDemoFile(const char* name);
// One of the three demos the engine ships, demos\demo001.dem to demo003.dem.
bool IsShippedDemoFile(const char* path);

// The current demo (owned by the demo player's state), or null.
Demo* CurrentDemo();

// Called by the key-event operation for every event, before validation.
void CaptureDemoPacket(uint8_t code, int32_t pressed, int32_t first, int32_t second);
// Called once per frame after the held keys have run.
void DemoPlaybackStep();

// The commands, also used by the start-up loop.
void RecordDemo();
void StopDemo();
void PlayDemo();
void SaveDemo();
// save NAME: as save, to NamedDemoFile(name); false, with a line saying why,
// when the name is not a plain file name.
bool SaveDemoAs(const char* name);
// load: false when the demo was not read (ignored while not idle, or the
// file is missing or damaged).
bool LoadDemo(const char* path);

// File form.
bool WriteDemoFile(const char* path, Demo* demo);
bool ReadDemoFile(const char* path, Demo* demo);

// The map command loaded the world at worldPath. A demo recorded on another
// world stops recording or playing, with a line saying so, and is marked as
// having left its world, so that the start-up demo loop does not take it up
// again. A demo that names no world belongs wherever it is played.
void DemoWorldChanged(const char* worldPath);
// A current demo that a map command has not taken out of its world.
bool CurrentDemoInItsWorld();

// Two names of one world file, however each is spelt: the content folder
// resolves names ignoring case, and so do the archives.
bool SameWorldFile(const char* a, const char* b);

// Drops the current demo and returns to idle (tests, shutdown).
void ResetDemoState();
