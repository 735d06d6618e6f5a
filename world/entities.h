// The world's entity text: where players start. The text comes from the
// world file and may be damaged, so the reader is bounded by the text's
// length and stops at the first fault with a message, keeping what it read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "video/d3d9/d3dx9.h"

struct SpawnPoint {
    std::string classname;
    D3DXVECTOR3 origin;  // in the engine's space (Y up)
    float angle = 0.0f;  // the direction faced, degrees about the up axis as the file gives it
};

// True when classname names a place where a player starts.
bool IsSpawnClass(const std::string& classname);

// Reads the spawn points of the entity text (length bytes; a zero byte ends
// it early). Deathmatch and single-player starts come first, then the team
// starts, each in file order. On a fault returns false with the problem in
// *problem and the spawn points of the entities before it in *spawns.
bool ReadSpawnPoints(const char* text, size_t length, std::vector<SpawnPoint>* spawns, std::string* problem);

// The camera's yaw (as v_setview takes it) that looks along a spawn angle.
float SpawnYaw(float angle);
