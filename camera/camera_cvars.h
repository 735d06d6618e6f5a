// Console variables of movement and physics, and of how the mouse turns the
// camera.
#pragma once

#include "console/console_object.h"

extern ConsoleVariable p_speed;
extern ConsoleVariable sensitivity;
// Non-zero: the mouse's vertical movement pitches the camera the other way.
extern ConsoleVariable m_invert;
extern ConsoleVariable p_thrust;
extern ConsoleVariable p_ground;
