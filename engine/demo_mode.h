// The demo player's mode as the rest of the engine reads it: 0 idle,
// 1 recording, 2 playing back.
#pragma once

#include <cstdint>

constexpr int32_t kDemoIdle = 0;
constexpr int32_t kDemoRecording = 1;
constexpr int32_t kDemoPlayback = 2;

int32_t CurrentDemoMode();
void SetDemoMode(int32_t mode);
