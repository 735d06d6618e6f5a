#include "engine/demo_mode.h"

namespace {
constinit int32_t s_demoMode = kDemoIdle;
}

int32_t CurrentDemoMode() { return s_demoMode; }
void SetDemoMode(int32_t mode) { s_demoMode = mode; }
